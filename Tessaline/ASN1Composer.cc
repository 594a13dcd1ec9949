#include "Tessaline/ASN1Composer.h"

#include <new>

#include "Tessaline/ASN1Encoder.h"
#include "Tessaline/ASN1Engine.h"
#include "Tessaline/Trace.h"
#include "platform/asn1/CryptEncodeObject.h"
#include "platform/base/Errors.h"

namespace tessaline {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr uint8_t kTagSequence = 0x30;

HRESULT PlatformFailure(const char* step) {
  HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
  // An encoder that failed without saying why still failed.
  if (SUCCEEDED(hr)) hr = E_FAIL;
  TL_TRACE_STEP(hr, "EncodeObject", step);
  return hr;
}

HRESULT Output(std::vector<uint8_t>&& bytes, std::vector<uint8_t>* element, size_t* element_length) {
  if (element_length != nullptr) *element_length = bytes.size();
  *element = std::move(bytes);
  return S_OK;
}

bool BlobFits(size_t length) { return length <= 0xFFFFFFFFu; }

}  // namespace

HRESULT EncodeObject(const void* structure, size_t* length, int struct_type, std::vector<uint8_t>* encoded) {
  if (encoded == nullptr) return E_POINTER;
  DWORD size = 0;
  if (!CryptEncodeObject(kEncoding, struct_type, structure, nullptr, &size)) return PlatformFailure("size query");
  try {
    std::vector<uint8_t> bytes(size);
    if (!CryptEncodeObject(kEncoding, struct_type, structure, bytes.data(), &size)) {
      return PlatformFailure("CryptEncodeObject");
    }
    bytes.resize(size);
    return Output(std::move(bytes), encoded, length);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ComposeAnyString(size_t length, DWORD string_type, const uint8_t* bytes, std::vector<uint8_t>* element,
                         size_t* element_length) {
  if (!BlobFits(length)) return E_INVALIDARG;
  CERT_NAME_VALUE value{string_type, {static_cast<DWORD>(length), const_cast<BYTE*>(bytes)}};
  const HRESULT hr = EncodeObject(&value, element_length, X509_NAME_VALUE, element);
  TL_TRACE_STEP(hr, "ComposeAnyString", "EncodeObject");
  return hr;
}

HRESULT ComposeBITString(size_t length, const uint8_t* bytes, std::vector<uint8_t>* element,
                         size_t* element_length) {
  if (!BlobFits(length)) return E_INVALIDARG;
  CRYPT_BIT_BLOB bits{static_cast<DWORD>(length), const_cast<BYTE*>(bytes), 0};
  const HRESULT hr = EncodeObject(&bits, element_length, X509_BITS, element);
  TL_TRACE_STEP(hr, "ComposeBITString", "EncodeObject");
  return hr;
}

// Attribute ::= SEQUENCE { type OBJECT IDENTIFIER, values SET OF ANY } is
// the platform's form; the callers want the value without the SET:
// SEQUENCE { OBJECT IDENTIFIER, value } (an algorithm identifier, a name
// attribute), or SEQUENCE { OBJECT IDENTIFIER, NULL } without a value.
HRESULT ComposeSpecialAttribute(const char* oid, const uint8_t* value, size_t value_length,
                                std::vector<uint8_t>* element, size_t* element_length) {
  if (oid == nullptr || element == nullptr) return E_POINTER;
  if (value != nullptr && !BlobFits(value_length)) return E_INVALIDARG;
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(value_length), const_cast<BYTE*>(value)};
  CRYPT_ATTRIBUTE attribute{const_cast<char*>(oid), value != nullptr ? 1u : 0u, value != nullptr ? &blob : nullptr};
  std::vector<uint8_t> encoded;
  HRESULT hr = EncodeObject(&attribute, nullptr, PKCS_ATTRIBUTE, &encoded);
  TL_TRACE_STEP(hr, "ComposeSpecialAttribute", "EncodeObject");
  RETURN_IF_FAILED(hr);
  if (value == nullptr) {
    // The empty SET 31 00 at the end becomes NULL 05 00.
    encoded[encoded.size() - 2] = 0x05;
    encoded[encoded.size() - 1] = 0x00;
    return Output(std::move(encoded), element, element_length);
  }
  std::unique_ptr<ASN1Node> root;
  hr = DecodeASN1Memory(&root, encoded.data(), encoded.size());
  TL_TRACE_STEP(hr, "ComposeSpecialAttribute", "DecodeASN1Memory");
  if (FAILED(hr) || root->children.size() != 2 || root->children[1]->children.size() != 1) return E_FAIL;
  const ASN1Node* id = root->children[0].get();
  const ASN1Node* inner = root->children[1]->children[0].get();
  std::vector<uint8_t> id_element, value_element, body, out;
  hr = ASN1Encode(id->tag, id->value(), id->value_length, &id_element, nullptr);
  TL_TRACE_STEP(hr, "ComposeSpecialAttribute", "ASN1Encode(OBJECT IDENTIFIER)");
  RETURN_IF_FAILED(hr);
  hr = ASN1Encode(inner->tag, inner->value(), inner->value_length, &value_element, nullptr);
  TL_TRACE_STEP(hr, "ComposeSpecialAttribute", "ASN1Encode(value)");
  RETURN_IF_FAILED(hr);
  try {
    body.reserve(id_element.size() + value_element.size());
    body.insert(body.end(), id_element.begin(), id_element.end());
    body.insert(body.end(), value_element.begin(), value_element.end());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  hr = ASN1Encode(kTagSequence, body.data(), body.size(), &out, nullptr);
  TL_TRACE_STEP(hr, "ComposeSpecialAttribute", "ASN1Encode(SEQUENCE)");
  RETURN_IF_FAILED(hr);
  return Output(std::move(out), element, element_length);
}

}  // namespace tessaline
