// The DER form of a raw SM2 signature as the vendor provider hands it out
// (after its two halves were put most significant byte first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/base/Result.h"

namespace tessaline {

// RAW is 64 bytes, r then s, each 32 bytes big-endian. The result is
//   SM2Signature ::= SEQUENCE { r INTEGER, s INTEGER }
// with each INTEGER holding all 32 bytes (a zero byte put in front when the
// top bit is set). Leading zero bytes are kept: peers rely on the fixed
// widths, even though such an INTEGER is not in minimal form.
// 0x8007000D when RAW is not 64 bytes. DER_LENGTH may be null.
HRESULT SM2EncodeRawSignature(const uint8_t* raw, size_t raw_length, std::vector<uint8_t>* der,
                              size_t* der_length);

}  // namespace tessaline
