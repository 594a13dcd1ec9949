// Message tables: resources/strings/<LANGID>.txt, one row per line, the
// message number (hexadecimal with 0x, or decimal), white space, the UTF-8
// text to the end of the line. Lines that are empty or start with '#' are
// comments. Parsed once, on first use.
#include <algorithm>
#include <charconv>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Errors.h"
#include "platform/base/Utf.h"
#include "platform/resources/EmbeddedResource.h"
#include "platform/resources/Resources.h"

namespace tessaline {
namespace {

struct MessageTable {
  LANGID language;
  std::map<UINT, std::u16string> rows;
};

bool ParseNumber(std::string_view text, UINT* value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value, base);
  return error == std::errc() && end == text.data() + text.size() && *value <= 0xFFFF;
}

void ParseRow(std::string_view line, MessageTable* table) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty() || line.front() == '#') return;
  const size_t id_end = std::min(line.find_first_of(" \t"), line.size());
  UINT id = 0;
  if (!ParseNumber(line.substr(0, id_end), &id)) return;
  std::string_view text = line.substr(id_end);
  const size_t text_start = text.find_first_not_of(" \t");
  text = text_start == std::string_view::npos ? std::string_view() : text.substr(text_start);
  table->rows.emplace(id, Utf8ToUtf16(text));  // the first row of a number wins
}

std::vector<MessageTable> ParseTables() {
  std::vector<MessageTable> tables;
  for (size_t i = 0; i < kEmbeddedResourceCount; ++i) {
    const EmbeddedResource& entry = kEmbeddedResources[i];
    if (std::string_view(entry.type) != kMessageTableType) continue;
    MessageTable table{static_cast<LANGID>(entry.id), {}};
    std::string_view rest(reinterpret_cast<const char*>(entry.data), entry.size);
    if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);  // a byte order mark from an editor
    while (!rest.empty()) {
      const size_t end = std::min(rest.find('\n'), rest.size());
      ParseRow(rest.substr(0, end), &table);
      rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    tables.push_back(std::move(table));
  }
  return tables;
}

const std::vector<MessageTable>& Tables() {
  static const std::vector<MessageTable> tables = ParseTables();
  return tables;
}

}  // namespace

std::optional<std::u16string_view> FindMessageString(UINT id, LANGID language) {
  for (const MessageTable& table : Tables()) {
    if (table.language != language) continue;
    const auto row = table.rows.find(id);
    if (row == table.rows.end()) return std::nullopt;
    return std::u16string_view(row->second);
  }
  return std::nullopt;
}

}  // namespace tessaline

int LoadStringW(HINSTANCE, UINT id, LPWSTR buffer, int buffer_max) {
  if (buffer == nullptr || buffer_max < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::optional<std::u16string_view> text = tessaline::FindMessageString(id, GetThreadUILanguage());
  if (buffer_max == 0) {
    // The caller asked for a pointer to the string itself. Rows are stored
    // as std::u16string, so the text is NUL-terminated.
    *reinterpret_cast<const WCHAR**>(buffer) = text ? text->data() : nullptr;
  } else {
    buffer[0] = 0;
  }
  if (!text || text->empty()) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  if (buffer_max == 0) return static_cast<int>(text->size());
  const size_t count = std::min(text->size(), static_cast<size_t>(buffer_max) - 1);
  std::copy_n(text->data(), count, buffer);
  buffer[count] = 0;
  return static_cast<int>(count);
}
