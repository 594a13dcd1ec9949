#include "Tessaline/Misc.h"

#include <array>
#include <new>
#include <stdexcept>

#include "Tessaline/Trace.h"
#include "platform/base/Errors.h"
#include "platform/base/Guid.h"
#include "platform/base/TempFile.h"
#include "platform/base/TempPath.h"
#include "platform/base/Utf.h"

namespace tessaline {
namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kBase64GroupsPerLine = 19;  // 76 characters

// Runs BODY, turning allocation failure into E_OUTOFMEMORY so that no
// exception leaves the core.
template <typename Body>
HRESULT Guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::length_error&) {
    return E_OUTOFMEMORY;
  }
}

int HexDigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Sextet value of each 8-bit character, -1 outside the alphabet.
constexpr auto kBase64Values = [] {
  std::array<int8_t, 256> table{};
  table.fill(-1);
  for (int i = 0; i < 64; ++i) table[static_cast<uint8_t>(kBase64Alphabet[i])] = static_cast<int8_t>(i);
  return table;
}();

// Replaces any file at PATH by a new one holding BYTES. The creation is
// exclusive and follows no link, so a link planted at the name between the
// deletion and the creation fails the operation instead of being written
// through.
HRESULT WriteNewFile(const std::u16string& path, const uint8_t* bytes, size_t count) {
  if (count > 0xFFFFFFFFu) return E_INVALIDARG;
  if (!DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
    TL_TRACE_STEP(hr, "DumpDatatoTempFile", "DeleteFileW");
    return hr;
  }
  if (!WriteNewFileW(path.c_str(), bytes, static_cast<DWORD>(count))) {
    const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
    TL_TRACE_STEP(hr, "DumpDatatoTempFile", "WriteNewFileW");
    return hr;
  }
  return S_OK;
}

}  // namespace

void SplitStrings(const char16_t* text, std::vector<std::u16string>* list) {
  if (text == nullptr || list == nullptr) return;
  const std::u16string_view all(text);
  const std::u16string_view separator(kListSeparator);
  size_t cursor = 0;
  while (true) {
    const size_t found = all.find(separator, cursor);
    const size_t end = found == std::u16string_view::npos ? all.size() : found;
    if (end == cursor) return;
    try {
      list->emplace_back(all.substr(cursor, end - cursor));
    } catch (const std::bad_alloc&) {
      // The item is lost, the rest of the list is still read.
    }
    cursor = found == std::u16string_view::npos ? all.size() : found + separator.size();
  }
}

HRESULT ConvertBinaryDataToString(std::u16string* out, size_t count, const uint8_t* bytes) {
  if (out == nullptr || (bytes == nullptr && count != 0)) return E_POINTER;
  if (count > std::u16string().max_size() / 2) return E_OUTOFMEMORY;
  return Guarded([&] {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::u16string text(2 * count, u'\0');
    for (size_t i = 0; i < count; ++i) {
      const uint8_t b = bytes[count - 1 - i];
      text[2 * i] = kDigits[b >> 4];
      text[2 * i + 1] = kDigits[b & 0x0F];
    }
    *out = std::move(text);
    return S_OK;
  });
}

HRESULT ConvertStringToBinaryData(size_t* count, const char16_t* text, std::vector<uint8_t>* out) {
  if (text == nullptr || out == nullptr) return E_INVALIDARG;
  const std::u16string_view hex(text);
  for (char16_t c : hex) {
    if (HexDigitValue(c) < 0) return E_INVALIDARG;
  }
  return Guarded([&] {
    const size_t n = hex.size() / 2;
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) {
      const size_t pos = 2 * (n - 1 - i);
      bytes[i] = static_cast<uint8_t>((HexDigitValue(hex[pos]) << 4) | HexDigitValue(hex[pos + 1]));
    }
    *out = std::move(bytes);
    if (count != nullptr) *count = n;
    return S_OK;
  });
}

HRESULT CreateGUIDStr(std::u16string* out) {
  if (out == nullptr) return E_POINTER;
  GUID guid;
  HRESULT hr = CoCreateGuid(&guid);
  TL_TRACE_STEP(hr, "CreateGUIDStr", "CoCreateGuid");
  RETURN_IF_FAILED(hr);
  char16_t text[64];
  if (StringFromGUID2(guid, text, 64) == 0) {
    hr = HRESULT_FROM_WIN32(GetLastError());
    TL_TRACE_STEP(hr, "CreateGUIDStr", "StringFromGUID2");
    return hr;
  }
  return Guarded([&] {
    *out = text;
    return S_OK;
  });
}

HRESULT GetTempDirPath(std::u16string* out) {
  if (out == nullptr) return E_POINTER;
  return Guarded([&] {
    // A directory longer than the usual buffer is read again with the size
    // the platform asks for, rather than used half-written.
    std::u16string buffer(260, u'\0');
    DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length >= buffer.size()) {
      buffer.assign(length, u'\0');
      length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    if (length == 0 || length >= buffer.size()) {
      const HRESULT hr = HRESULT_FROM_WIN32(length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER);
      TL_TRACE_STEP(hr, "GetTempDirPath", "GetTempPathW");
      return FAILED(hr) ? hr : E_FAIL;
    }
    buffer.resize(length);
    *out = std::move(buffer);
    return S_OK;
  });
}

void DumpDatatoTempFile(std::u16string* path, const uint8_t* bytes, size_t count) {
  TL_TRACE_SCOPE("DumpDatatoTempFile");
  if (path == nullptr || (bytes == nullptr && count != 0)) return;
  const HRESULT hr = Guarded([&] {
    std::u16string guid;
    std::u16string dir;
    HRESULT step = CreateGUIDStr(&guid);
    TL_TRACE_STEP(step, "DumpDatatoTempFile", "CreateGUIDStr");
    RETURN_IF_FAILED(step);
    step = GetTempDirPath(&dir);
    TL_TRACE_STEP(step, "DumpDatatoTempFile", "GetTempDirPath");
    RETURN_IF_FAILED(step);
    std::u16string file = dir + guid + u".VEXA";
    RETURN_IF_FAILED(WriteNewFile(file, bytes, count));
    *path = std::move(file);
    return S_OK;
  });
  TL_TRACE_STEP(hr, "DumpDatatoTempFile", "DumpDatatoTempFile");
}

void SwapByteOrder(uint8_t* bytes, size_t count) {
  if (bytes == nullptr || count < 2) return;
  for (size_t i = 0, j = count - 1; i < j; ++i, --j) {
    const uint8_t t = bytes[i];
    bytes[i] = bytes[j];
    bytes[j] = t;
  }
}

HRESULT UTF16ToUTF8(const char16_t* text, std::string* out, size_t* count) {
  if (text == nullptr || out == nullptr) return E_POINTER;
  const HRESULT hr = Guarded([&] {
    std::string utf8 = Utf16ToUtf8(text);
    if (count != nullptr) *count = utf8.size();
    *out = std::move(utf8);
    return S_OK;
  });
  TL_TRACE_STEP(hr, "UTF16ToUTF8", "WideCharToMultiByte");
  return hr;
}

HRESULT UTF8ToUTF16(const char* text, std::u16string* out, size_t* count) {
  if (text == nullptr || out == nullptr) return E_POINTER;
  const HRESULT hr = Guarded([&] {
    std::u16string utf16 = Utf8ToUtf16(text);
    if (count != nullptr) *count = utf16.size();
    *out = std::move(utf16);
    return S_OK;
  });
  TL_TRACE_STEP(hr, "UTF8ToUTF16", "MultiByteToWideChar");
  return hr;
}

HRESULT Base64EncodeEx(size_t count, std::string* out_text, const uint8_t* bytes, size_t* chars) {
  if (out_text == nullptr || (bytes == nullptr && count != 0)) return E_POINTER;
  if (count > 0x7FFFFFFFu / 4) return E_FAIL;
  const HRESULT hr = Guarded([&] {
    const size_t groups = count / 3;
    const size_t lines = groups / kBase64GroupsPerLine + 1;
    // Every line, the last one too even when it holds no group, ends with
    // CR LF; the final CR LF is taken back afterwards.
    std::string text((count + 2) / 3 * 4 + 2 * lines, '\0');
    char* out = text.data();
    const uint8_t* in = bytes;
    for (size_t line = 0; line < lines; ++line) {
      const size_t in_line = line + 1 == lines ? groups % kBase64GroupsPerLine : kBase64GroupsPerLine;
      for (size_t g = 0; g < in_line; ++g, in += 3) {
        const uint32_t v = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
        *out++ = kBase64Alphabet[(v >> 18) & 0x3F];
        *out++ = kBase64Alphabet[(v >> 12) & 0x3F];
        *out++ = kBase64Alphabet[(v >> 6) & 0x3F];
        *out++ = kBase64Alphabet[v & 0x3F];
      }
      *out++ = '\r';
      *out++ = '\n';
    }
    out -= 2;
    const size_t rest = count % 3;
    if (rest != 0) {
      const uint32_t v = (uint32_t{in[0]} << 16) | (rest == 2 ? uint32_t{in[1]} << 8 : 0);
      *out++ = kBase64Alphabet[(v >> 18) & 0x3F];
      *out++ = kBase64Alphabet[(v >> 12) & 0x3F];
      *out++ = rest == 2 ? kBase64Alphabet[(v >> 6) & 0x3F] : '=';
      *out++ = '=';
    }
    text.resize(static_cast<size_t>(out - text.data()));
    if (chars != nullptr) *chars = text.size();
    *out_text = std::move(text);
    return S_OK;
  });
  TL_TRACE_STEP(hr, "Base64EncodeEx", "Base64Encode");
  return hr;
}

HRESULT Base64DecodeEx(int64_t chars, std::vector<uint8_t>* out_bytes, const char* text, size_t* count) {
  if (chars <= 0) return E_FAIL;
  if (text == nullptr || out_bytes == nullptr) return E_POINTER;
  const HRESULT hr = Guarded([&] {
    const size_t length = static_cast<size_t>(chars);
    // As many bytes as characters: always enough, since four characters
    // make three bytes.
    std::vector<uint8_t> bytes(length);
    uint8_t* out = bytes.data();
    const uint8_t* in = reinterpret_cast<const uint8_t*>(text);
    size_t pos = 0;
    while (pos < length && in[pos] != 0) {
      uint32_t bits = 0;
      int collected = 0;
      while (collected < 4 && pos < length) {
        const int v = kBase64Values[in[pos++]];
        if (v < 0) continue;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        ++collected;
      }
      // k characters carry 6k bits: the whole bytes among them are output.
      bits <<= 6 * (4 - collected);
      const int whole = collected * 6 / 8;
      for (int i = 0; i < whole; ++i) *out++ = static_cast<uint8_t>(bits >> (16 - 8 * i));
    }
    bytes.resize(static_cast<size_t>(out - bytes.data()));
    if (count != nullptr) *count = bytes.size();
    *out_bytes = std::move(bytes);
    return S_OK;
  });
  TL_TRACE_STEP(hr, "Base64DecodeEx", "Base64Decode");
  return hr;
}

}  // namespace tessaline
