#include "platform/asn1/CryptEncodeObject.h"

#include <cstring>
#include <new>
#include <vector>

#include "platform/asn1/StructEncoders.h"
#include "platform/base/Errors.h"

BOOL CryptEncodeObject(DWORD encodingType, int structType, const void* structInfo, BYTE* encoded, DWORD* size) {
  if (structInfo == nullptr || size == nullptr || (encodingType & X509_ASN_ENCODING) == 0) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  std::vector<uint8_t> der;
  DWORD error = ERROR_SUCCESS;
  try {
    switch (structType) {
      case X509_NAME_VALUE:
        error = tessaline::EncodeNameValue(*static_cast<const CERT_NAME_VALUE*>(structInfo), &der);
        break;
      case X509_BITS:
        error = tessaline::EncodeBits(*static_cast<const CRYPT_BIT_BLOB*>(structInfo), &der);
        break;
      case PKCS_ATTRIBUTE:
        error = tessaline::EncodeAttribute(*static_cast<const CRYPT_ATTRIBUTE*>(structInfo), &der);
        break;
      default:
        error = ERROR_NOT_SUPPORTED;
    }
  } catch (const std::bad_alloc&) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  }
  if (error != ERROR_SUCCESS) return FailWith(error);
  if (der.size() > 0xFFFFFFFFu) return FailWith(ERROR_INVALID_PARAMETER);
  const DWORD needed = static_cast<DWORD>(der.size());
  if (encoded == nullptr) {
    *size = needed;
    return TRUE;
  }
  if (*size < needed) {
    *size = needed;
    return FailWith(ERROR_MORE_DATA);
  }
  std::memcpy(encoded, der.data(), der.size());
  *size = needed;
  return TRUE;
}
