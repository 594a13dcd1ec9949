// The request's byte-level conversions on any input. Rules checked:
// - an SM2 public-key blob gives the point 04 || X || Y with each coordinate
//   read from its field and reversed, and the 136-byte exchange key keeps
//   each field's other 32 bytes; a blob under 140 bytes fails, never read
//   past its end;
// - a 64-byte raw signature becomes SEQUENCE { INTEGER r, INTEGER s } whose
//   last 32 content bytes are r and s as given; any other size fails;
// - the Base64 re-wrap keeps every character but CR and LF, in order, with
//   lines of at most 64 characters and no line break at the end.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "Tessaline/PKCS10Request.h"
#include "Tessaline/SM2EncodeRawSignature.h"
#include "platform/base/ByteView.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckBlob(std::span<const uint8_t> blob) {
  std::vector<uint8_t> point, key;
  const HRESULT p = tessaline::Sm2PointFromBlob(blob, &point);
  const HRESULT k = tessaline::Sm2ExchangeKeyFromBlob(blob, &key);
  if (blob.size() < 140) {
    Check(ResultBits(p) == 0x8007000D && ResultBits(k) == 0x8007000D);
    return;
  }
  Check(p == S_OK && k == S_OK && point.size() == 65 && key.size() == 136 && point[0] == 0x04);
  for (size_t i = 0; i < 32; ++i) {
    Check(point[1 + i] == blob[12 + 31 - i] && point[33 + i] == blob[76 + 31 - i]);
    Check(key[8 + i] == point[1 + i] && key[72 + i] == point[33 + i]);
    Check(key[40 + i] == blob[44 + i] && key[104 + i] == blob[108 + i]);
  }
}

void CheckSignature(std::span<const uint8_t> raw) {
  std::vector<uint8_t> der;
  const HRESULT hr = tessaline::SM2EncodeRawSignature(raw.data(), raw.size(), &der, nullptr);
  if (raw.size() != 64) {
    Check(ResultBits(hr) == 0x8007000D);
    return;
  }
  Check(hr == S_OK);
  tessaline::ByteView view(der.data(), der.size()), sequence, half;
  Check(view.ReadDer(0x30, &sequence) && view.empty());
  for (size_t i = 0; i < 2; ++i) {
    Check(sequence.ReadDer(0x02, &half));
    Check(half.size() == 32 || (half.size() == 33 && half.data()[0] == 0 && half.data()[1] >= 0x80));
    Check(std::equal(raw.begin() + 32 * i, raw.begin() + 32 * (i + 1), half.data() + half.size() - 32));
  }
  Check(sequence.empty());
}

void CheckWrap(std::span<const uint8_t> data) {
  const std::string text(data.begin(), data.end());
  std::string wrapped;
  Check(tessaline::TransformBase64EncodedDatatoHoldCRLFPer64Chars(text, &wrapped) == S_OK);
  std::string kept, rejoined;
  for (char c : text) {
    if (c != '\r' && c != '\n') kept.push_back(c);
  }
  size_t line = 0;
  for (size_t i = 0; i < wrapped.size(); ++i) {
    if (wrapped.compare(i, 2, "\r\n") == 0) {
      Check(line == 64 && i + 2 < wrapped.size());
      line = 0;
      ++i;
      continue;
    }
    Check(wrapped[i] != '\r' && wrapped[i] != '\n' && ++line <= 64);
    rejoined.push_back(wrapped[i]);
  }
  Check(rejoined == kept);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  CheckBlob(input);
  CheckSignature(input);
  CheckWrap(input);
  return 0;
}
