// ConvertStringToBinaryData on arbitrary UTF-16 text (the input's bytes in
// pairs), and ConvertBinaryDataToString on the raw bytes. Rules: text is
// accepted exactly when it is all hexadecimal digits; converting the bytes
// back gives the text lower-cased (without an odd last digit); and bytes
// turned into text and back are unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Tessaline/Misc.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool IsHexDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'F' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == u'\0') break;  // the conversion reads NUL-terminated text
    text.push_back(c);
  }
  bool all_hex = true;
  for (char16_t c : text) all_hex = all_hex && IsHexDigit(c);

  size_t count = 0;
  std::vector<uint8_t> bytes;
  const HRESULT hr = tessaline::ConvertStringToBinaryData(&count, text.c_str(), &bytes);
  Check(all_hex ? hr == S_OK : hr == E_INVALIDARG);
  if (hr == S_OK) {
    Check(count == text.size() / 2 && bytes.size() == count);
    std::u16string back;
    Check(tessaline::ConvertBinaryDataToString(&back, count, bytes.data()) == S_OK);
    std::u16string expected;
    for (size_t i = 0; i < 2 * count; ++i) expected.push_back(Lower(text[i]));
    Check(back == expected);
  }

  std::u16string hex;
  Check(tessaline::ConvertBinaryDataToString(&hex, size, data) == S_OK);
  Check(hex.size() == 2 * size);
  std::vector<uint8_t> round;
  Check(tessaline::ConvertStringToBinaryData(&count, hex.c_str(), &round) == S_OK);
  Check(round == std::vector<uint8_t>(data, data + size));
  return 0;
}
