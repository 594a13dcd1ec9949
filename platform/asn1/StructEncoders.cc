#include "platform/asn1/StructEncoders.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>

#include "platform/asn1/ObjectIdentifier.h"
#include "platform/base/ByteView.h"
#include "platform/base/DerWriter.h"
#include "platform/base/Errors.h"
#include "platform/base/Utf.h"

namespace tessaline {
namespace {

constexpr uint8_t kTagBitString = 0x03;
constexpr uint8_t kTagOctetString = 0x04;
constexpr uint8_t kTagObjectIdentifier = 0x06;
constexpr uint8_t kTagUtf8String = 0x0C;
constexpr uint8_t kTagPrintableString = 0x13;
constexpr uint8_t kTagIa5String = 0x16;
constexpr uint8_t kTagSequence = 0x30;
constexpr uint8_t kTagSet = 0x31;

bool IsPrintableChar(uint8_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return std::string_view(" '()+,-./:=?").find(static_cast<char>(c)) != std::string_view::npos;
}

std::span<const uint8_t> BlobBytes(const CRYPT_DATA_BLOB& blob) {
  if (blob.cbData == 0) return {};
  return {blob.pbData, blob.cbData};
}

}  // namespace

// NameValue ::= CHOICE { OCTET STRING, PrintableString, IA5String, UTF8String }
DWORD EncodeNameValue(const CERT_NAME_VALUE& value, std::vector<uint8_t>* der) {
  if (value.Value.cbData != 0 && value.Value.pbData == nullptr) return ERROR_INVALID_PARAMETER;
  const std::span<const uint8_t> bytes = BlobBytes(value.Value);
  DerWriter writer;
  switch (value.dwValueType) {
    case CERT_RDN_OCTET_STRING:
      writer.AddElement(kTagOctetString, bytes);
      break;
    case CERT_RDN_PRINTABLE_STRING:
      if (!std::all_of(bytes.begin(), bytes.end(), IsPrintableChar)) return ResultBits(CRYPT_E_INVALID_PRINTABLE_STRING);
      writer.AddElement(kTagPrintableString, bytes);
      break;
    case CERT_RDN_IA5_STRING:
      if (!std::all_of(bytes.begin(), bytes.end(), [](uint8_t c) { return c < 0x80; })) {
        return ResultBits(CRYPT_E_INVALID_IA5_STRING);
      }
      writer.AddElement(kTagIa5String, bytes);
      break;
    case CERT_RDN_UTF8_STRING: {
      if (bytes.size() % 2 != 0) return ERROR_INVALID_PARAMETER;
      std::u16string wide(bytes.size() / 2, u'\0');
      if (!bytes.empty()) std::memcpy(wide.data(), bytes.data(), bytes.size());
      const std::string utf8 = Utf16ToUtf8(wide);
      writer.AddElement(kTagUtf8String, {reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size()});
      break;
    }
    default:
      return ERROR_NOT_SUPPORTED;
  }
  *der = writer.Finish();
  return ERROR_SUCCESS;
}

// BIT STRING: one octet of unused bits, then the bits; DER wants the unused
// bits of the last octet zero.
DWORD EncodeBits(const CRYPT_BIT_BLOB& bits, std::vector<uint8_t>* der) {
  if (bits.cbData != 0 && bits.pbData == nullptr) return ERROR_INVALID_PARAMETER;
  if (bits.cUnusedBits > 7 || (bits.cbData == 0 && bits.cUnusedBits != 0)) return ERROR_INVALID_PARAMETER;
  std::vector<uint8_t> content;
  content.reserve(bits.cbData + 1);
  content.push_back(static_cast<uint8_t>(bits.cUnusedBits));
  if (bits.cbData != 0) {
    content.insert(content.end(), bits.pbData, bits.pbData + bits.cbData);
    content.back() &= static_cast<uint8_t>(0xFF << bits.cUnusedBits);
  }
  DerWriter writer;
  writer.AddElement(kTagBitString, content);
  *der = writer.Finish();
  return ERROR_SUCCESS;
}

// Attribute ::= SEQUENCE { type OBJECT IDENTIFIER, values SET OF ANY }
DWORD EncodeAttribute(const CRYPT_ATTRIBUTE& attribute, std::vector<uint8_t>* der) {
  if (attribute.pszObjId == nullptr || (attribute.cValue != 0 && attribute.rgValue == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  std::vector<uint8_t> oid;
  if (!EncodeObjectIdentifier(attribute.pszObjId, &oid)) return ERROR_INVALID_PARAMETER;
  std::vector<std::span<const uint8_t>> values;
  values.reserve(attribute.cValue);
  for (DWORD i = 0; i < attribute.cValue; ++i) {
    const CRYPT_DATA_BLOB& blob = attribute.rgValue[i];
    if (blob.cbData != 0 && blob.pbData == nullptr) return ERROR_INVALID_PARAMETER;
    // Each value is copied unchanged, so it must be exactly one element.
    ByteView view(blob.pbData, blob.cbData);
    uint8_t tag;
    ByteView contents;
    if (!view.ReadAnyDer(&tag, &contents) || !view.empty()) return ResultBits(CRYPT_E_ASN1_CORRUPT);
    values.push_back(BlobBytes(blob));
  }
  // DER orders the members of a SET OF by their encodings.
  std::sort(values.begin(), values.end(), [](std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
  });
  DerWriter writer;
  const size_t sequence = writer.Open(kTagSequence);
  writer.AddElement(kTagObjectIdentifier, oid);
  const size_t set = writer.Open(kTagSet);
  for (const auto& value : values) writer.AddBytes(value);
  writer.Close(set);
  writer.Close(sequence);
  *der = writer.Finish();
  return ERROR_SUCCESS;
}

}  // namespace tessaline
