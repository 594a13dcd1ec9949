#include "platform/base/Utf.h"

#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t lead = static_cast<uint8_t>(text[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    // Well-formed sequences (Unicode table 3-7): the trail count and the
    // range allowed for the first trail byte depend on the lead byte.
    size_t trails = 0;
    uint8_t first_lo = 0x80, first_hi = 0xBF;
    char32_t c = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      trails = 1, c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trails = 2, c = lead & 0x0F;
      if (lead == 0xE0) first_lo = 0xA0;
      if (lead == 0xED) first_hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trails = 3, c = lead & 0x07;
      if (lead == 0xF0) first_lo = 0x90;
      if (lead == 0xF4) first_hi = 0x8F;
    } else {
      out.push_back(static_cast<char16_t>(kReplacement));
      ++i;
      continue;
    }
    size_t k = 0;
    for (; k < trails && i + 1 + k < text.size(); ++k) {
      const uint8_t next = static_cast<uint8_t>(text[i + 1 + k]);
      const uint8_t lo = k == 0 ? first_lo : 0x80;
      const uint8_t hi = k == 0 ? first_hi : 0xBF;
      if (next < lo || next > hi) break;
      c = (c << 6) | (next & 0x3F);
    }
    if (k < trails) {
      // One replacement for the maximal valid prefix of the sequence.
      out.push_back(static_cast<char16_t>(kReplacement));
      i += 1 + k;
      continue;
    }
    AppendUtf16(out, c);
    i += 1 + trails;
  }
  return out;
}
