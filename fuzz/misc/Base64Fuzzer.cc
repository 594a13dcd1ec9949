// Base64DecodeEx on arbitrary text, and the encoder on the same bytes.
// Rules: decoding never yields more bytes than it was given characters, and
// never more than the alphabet characters among them carry; decoding what
// Base64EncodeEx made gives the input back.
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

bool InAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<uint8_t> decoded;
  size_t count = 0;
  const HRESULT hr = tessaline::Base64DecodeEx(static_cast<int64_t>(size), &decoded, text.data(), &count);
  if (size == 0) {
    Check(hr == E_FAIL);
  } else {
    Check(hr == S_OK && count == decoded.size() && count <= size);
    size_t alphabet = 0;
    for (char c : text) alphabet += InAlphabet(c);
    Check(count <= alphabet * 6 / 8);
  }

  std::string encoded;
  size_t chars = 0;
  Check(tessaline::Base64EncodeEx(size, &encoded, data, &chars) == S_OK);
  Check(chars == encoded.size());
  if (size == 0) {
    Check(encoded.empty());
    return 0;
  }
  std::vector<uint8_t> back;
  Check(tessaline::Base64DecodeEx(static_cast<int64_t>(chars), &back, encoded.data(), &count) == S_OK);
  Check(back == std::vector<uint8_t>(data, data + size));
  return 0;
}
