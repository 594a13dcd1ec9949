// Wraps a value in one DER tag-length-value element.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/base/Result.h"

namespace tessaline {

// The length octets of LENGTH in minimal form (1 to 5 octets). E_FAIL for a
// length of 0 (this encoder never makes an empty element) or one beyond 32
// bits. COUNT may be null.
HRESULT CalculateASNValueLength(size_t length, std::vector<uint8_t>* octets, size_t* count);

// TAG, the length octets and LENGTH bytes of VALUE as one element. Only the
// tags 02 04 06 0C 13 16 1E 30 31 80 A0 are accepted; any other tag or an
// empty value gives E_FAIL. The content is not checked. ELEMENT_LENGTH may
// be null.
HRESULT ASN1Encode(uint8_t tag, const uint8_t* value, size_t length, std::vector<uint8_t>* element,
                   size_t* element_length);

}  // namespace tessaline
