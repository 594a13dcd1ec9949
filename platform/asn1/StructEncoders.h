// DER encoders of the structures that CryptEncodeObject accepts. Each
// returns ERROR_SUCCESS and the encoding, or the last error to report.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/asn1/StructTypes.h"

namespace tessaline {

DWORD EncodeNameValue(const CERT_NAME_VALUE& value, std::vector<uint8_t>* der);
DWORD EncodeBits(const CRYPT_BIT_BLOB& bits, std::vector<uint8_t>* der);
DWORD EncodeAttribute(const CRYPT_ATTRIBUTE& attribute, std::vector<uint8_t>* der);

}  // namespace tessaline
