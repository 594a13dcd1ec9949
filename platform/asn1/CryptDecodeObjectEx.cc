#include "platform/asn1/CryptDecodeObjectEx.h"

#include <cstring>

#include "platform/base/ByteView.h"
#include "platform/base/Errors.h"

namespace {

constexpr uint8_t kTagBitString = 0x03;
constexpr uint8_t kTagOctetString = 0x04;

enum class Kind { kOctetString, kBitString };

bool IsNumber(const char* type) { return reinterpret_cast<uintptr_t>(type) <= 0xFFFF; }

bool KindOf(const char* type, Kind* kind) {
  if (type == nullptr) return false;
  if (IsNumber(type)) {
    switch (reinterpret_cast<uintptr_t>(type)) {
      case 25:  // X509_OCTET_STRING
        *kind = Kind::kOctetString;
        return true;
      case 14:  // X509_KEY_USAGE
      case 26:  // X509_BITS
        *kind = Kind::kBitString;
        return true;
      default:
        return false;
    }
  }
  if (std::strcmp(type, szOID_SUBJECT_KEY_IDENTIFIER) == 0) {
    *kind = Kind::kOctetString;
    return true;
  }
  if (std::strcmp(type, szOID_KEY_USAGE) == 0) {
    *kind = Kind::kBitString;
    return true;
  }
  return false;
}

// Delivers a structure of SIZE bytes followed by TAIL (unless NOCOPY), built
// by FILL once the destination is known.
template <typename Struct, typename Fill>
BOOL Deliver(DWORD flags, const CRYPT_DECODE_PARA* para, void* out, DWORD* out_size, tessaline::ByteView tail,
             Fill fill) {
  const bool copy = (flags & CRYPT_DECODE_NOCOPY_FLAG) == 0;
  const size_t total = sizeof(Struct) + (copy ? tail.size() : 0);
  if (total > 0xFFFFFFFFu) return FailWith(ERROR_INVALID_DATA);
  BYTE* buffer;
  if ((flags & CRYPT_DECODE_ALLOC_FLAG) != 0) {
    if (out == nullptr || para == nullptr || para->pfnAlloc == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
    buffer = static_cast<BYTE*>(para->pfnAlloc(total));
    if (buffer == nullptr) return FailWith(ERROR_NOT_ENOUGH_MEMORY);
    *static_cast<void**>(out) = buffer;
  } else {
    if (out == nullptr) {
      *out_size = static_cast<DWORD>(total);
      return TRUE;
    }
    if (*out_size < total) {
      *out_size = static_cast<DWORD>(total);
      return FailWith(ERROR_MORE_DATA);
    }
    buffer = static_cast<BYTE*>(out);
  }
  BYTE* data = const_cast<BYTE*>(tail.data());
  if (copy) {
    data = buffer + sizeof(Struct);
    if (!tail.empty()) std::memcpy(data, tail.data(), tail.size());
  }
  Struct result{};
  fill(&result, data);
  std::memcpy(buffer, &result, sizeof(Struct));
  if (out_size != nullptr) *out_size = static_cast<DWORD>(total);
  return TRUE;
}

}  // namespace

BOOL CryptDecodeObjectEx(DWORD dwCertEncodingType, const char* lpszStructType, const BYTE* pbEncoded,
                         DWORD cbEncoded, DWORD dwFlags, const CRYPT_DECODE_PARA* pDecodePara, void* pvStructInfo,
                         DWORD* pcbStructInfo) {
  if ((dwCertEncodingType & X509_ASN_ENCODING) == 0 || (pbEncoded == nullptr && cbEncoded != 0)) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  if ((dwFlags & CRYPT_DECODE_ALLOC_FLAG) == 0 && pcbStructInfo == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  Kind kind;
  if (!KindOf(lpszStructType, &kind)) return FailWith(ERROR_FILE_NOT_FOUND);

  tessaline::ByteView input(pbEncoded, cbEncoded);
  uint8_t tag;
  tessaline::ByteView contents;
  if (!input.ReadAnyDer(&tag, &contents) || !input.empty()) {
    return FailWith(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
  }

  if (kind == Kind::kOctetString) {
    // SubjectKeyIdentifier ::= KeyIdentifier
    // KeyIdentifier ::= OCTET STRING
    if (tag != kTagOctetString) return FailWith(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
    return Deliver<CRYPT_DATA_BLOB>(dwFlags, pDecodePara, pvStructInfo, pcbStructInfo, contents,
                                    [&](CRYPT_DATA_BLOB* blob, BYTE* data) {
                                      blob->cbData = static_cast<DWORD>(contents.size());
                                      blob->pbData = contents.empty() ? nullptr : data;
                                    });
  }

  // KeyUsage ::= BIT STRING { digitalSignature (0), nonRepudiation (1), ... }
  // The first content octet counts the unused bits of the last octet.
  if (tag != kTagBitString) return FailWith(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
  uint8_t unused;
  if (!contents.ReadU8(&unused) || unused > 7 || (contents.empty() && unused != 0)) {
    return FailWith(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
  }
  return Deliver<CRYPT_BIT_BLOB>(dwFlags, pDecodePara, pvStructInfo, pcbStructInfo, contents,
                                 [&](CRYPT_BIT_BLOB* blob, BYTE* data) {
                                   blob->cbData = static_cast<DWORD>(contents.size());
                                   blob->pbData = contents.empty() ? nullptr : data;
                                   blob->cUnusedBits = unused;
                                 });
}
