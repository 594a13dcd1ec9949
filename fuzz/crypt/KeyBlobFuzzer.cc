// RSA key blobs: whatever parses must build back into the same bytes (the
// header's reserved field aside), so no field is read from the wrong place
// or dropped.
#include <cstdlib>
#include <vector>

#include "platform/crypt/KeyBlobs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessaline::crypt::RsaBlob parsed;
  if (tessaline::crypt::ParseRsaBlob(tessaline::ByteView(data, size), &parsed) != 0) return 0;
  const bool with_private = data[0] == 0x07;
  std::vector<uint8_t> rebuilt;
  if (!tessaline::crypt::BuildRsaBlob(parsed, with_private, &rebuilt)) std::abort();
  std::vector<uint8_t> expected(data, data + size);
  expected[2] = expected[3] = 0;
  if (rebuilt != expected) std::abort();
  return 0;
}
