#include "Tessaline/PKCS10Request.h"

#include <algorithm>
#include <initializer_list>
#include <new>

#include "Tessaline/ASN1Composer.h"
#include "Tessaline/ASN1Encoder.h"
#include "Tessaline/Misc.h"
#include "Tessaline/ProviderEnumeration.h"
#include "Tessaline/SM2EncodeRawSignature.h"
#include "Tessaline/SubjectName.h"
#include "Tessaline/Trace.h"
#include "platform/asn1/StructTypes.h"
#include "platform/base/ByteView.h"
#include "platform/base/Errors.h"
#include "platform/crypt/Crypt.h"

namespace tessaline {
namespace {

constexpr uint8_t kTagSequence = 0x30;
constexpr uint8_t kTagOid = 0x06;
constexpr uint8_t kTagAttributes = 0xA0;
constexpr uint8_t kVersion0[] = {0x02, 0x01, 0x00};
constexpr uint8_t kInteger1[] = {0x02, 0x01, 0x01};
constexpr char kChallengePasswordOid[] = "1.2.840.113549.1.9.7";
constexpr char kChallengePassword[] = "730264";
constexpr char kExchangeKeyOid[] = "1.2.840.113549.1.9.63";
constexpr size_t kHashPiece = 16384;
constexpr DWORD kSm2SignatureBuffer = 16384;
constexpr size_t kCoordinate = 32;
constexpr size_t kField = 64;
constexpr size_t kBlobXOffset = 12;
constexpr size_t kBlobYOffset = 76;
static_assert(kBlobYOffset == kBlobXOffset + kField, "the Y field follows the X field");
constexpr size_t kBase64LineChars = 64;

HRESULT BadBlob() { return HRESULT_FROM_WIN32(ERROR_INVALID_DATA); }

// The Windows error of a failed provider call; a call that failed without
// saying why still failed.
HRESULT ProviderFailure(const char* step) {
  HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
  if (!FAILED(hr)) hr = E_FAIL;
  TL_TRACE_STEP(hr, "PKCS10CalculateHashandSign", step);
  return hr;
}

HRESULT Concat(std::initializer_list<std::span<const uint8_t>> parts, std::vector<uint8_t>* out) {
  try {
    std::vector<uint8_t> joined;
    for (auto part : parts) joined.insert(joined.end(), part.begin(), part.end());
    *out = std::move(joined);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// Reads the X and Y fields of an SM2 public-key blob.
HRESULT ReadBlobFields(std::span<const uint8_t> blob, ByteView* x, ByteView* y) {
  ByteView view(blob);
  if (blob.size() < kSm2BlobSize || !view.Skip(kBlobXOffset) || !view.ReadBytes(kField, x) ||
      !view.ReadBytes(kField, y)) {
    TL_TRACE_ERROR("SM2 public-key blob of %zu bytes, %zu needed", blob.size(), kSm2BlobSize);
    return BadBlob();
  }
  return S_OK;
}

// The field's coordinate most significant byte first, the rest unchanged.
void AppendField(ByteView field, bool whole, std::vector<uint8_t>* out) {
  const uint8_t* c = field.data();
  out->insert(out->end(), std::reverse_iterator(c + kCoordinate), std::reverse_iterator(c));
  if (whole) out->insert(out->end(), c + kCoordinate, c + kField);
}

}  // namespace

HRESULT Sm2PointFromBlob(std::span<const uint8_t> blob, std::vector<uint8_t>* point) {
  ByteView x, y;
  RETURN_IF_FAILED(ReadBlobFields(blob, &x, &y));
  try {
    std::vector<uint8_t> out = {0x04};
    AppendField(x, false, &out);
    AppendField(y, false, &out);
    *point = std::move(out);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT Sm2ExchangeKeyFromBlob(std::span<const uint8_t> blob, std::vector<uint8_t>* key) {
  ByteView x, y;
  RETURN_IF_FAILED(ReadBlobFields(blob, &x, &y));
  try {
    std::vector<uint8_t> out = {0x00, 0xB4, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
    AppendField(x, true, &out);
    AppendField(y, true, &out);
    *key = std::move(out);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ComposeSignPublicKeyData(const char* algorithm_oid, const char* parameters_oid,
                                 std::span<const uint8_t> public_key, std::vector<uint8_t>* element) {
  TL_TRACE_SCOPE("ComposeSignPublicKeyData");
  if (algorithm_oid == nullptr || element == nullptr) return E_POINTER;
  std::vector<uint8_t> algorithm;
  HRESULT hr;
  if (parameters_oid == nullptr || parameters_oid[0] == '\0') {
    hr = ComposeSpecialAttribute(algorithm_oid, nullptr, 0, &algorithm, nullptr);
    TL_TRACE_STEP(hr, "ComposeSignPublicKeyData", "ComposeSpecialAttribute(algorithm)");
    RETURN_IF_FAILED(hr);
  } else {
    // The parameters are a bare OBJECT IDENTIFIER: the one inside
    // SEQUENCE { OID, NULL }.
    std::vector<uint8_t> with_null;
    hr = ComposeSpecialAttribute(parameters_oid, nullptr, 0, &with_null, nullptr);
    TL_TRACE_STEP(hr, "ComposeSignPublicKeyData", "ComposeSpecialAttribute(parameters)");
    RETURN_IF_FAILED(hr);
    ByteView outer(with_null), inner, oid_contents, oid_element;
    if (!outer.ReadDer(kTagSequence, &inner) || !inner.ReadDer(kTagOid, &oid_contents, &oid_element)) {
      return E_FAIL;
    }
    hr = ComposeSpecialAttribute(algorithm_oid, oid_element.data(), oid_element.size(), &algorithm, nullptr);
    TL_TRACE_STEP(hr, "ComposeSignPublicKeyData", "ComposeSpecialAttribute(algorithm)");
    RETURN_IF_FAILED(hr);
  }
  std::vector<uint8_t> bits, body;
  hr = ComposeBITString(public_key.size(), public_key.data(), &bits, nullptr);
  TL_TRACE_STEP(hr, "ComposeSignPublicKeyData", "ComposeBITString");
  RETURN_IF_FAILED(hr);
  RETURN_IF_FAILED(Concat({algorithm, bits}, &body));
  hr = ASN1Encode(kTagSequence, body.data(), body.size(), element, nullptr);
  TL_TRACE_STEP(hr, "ComposeSignPublicKeyData", "ASN1Encode");
  return hr;
}

HRESULT ComposeAttributes(std::span<const uint8_t> exchange_key, std::vector<uint8_t>* element) {
  TL_TRACE_SCOPE("ComposeAttributes");
  if (element == nullptr) return E_POINTER;
  std::vector<uint8_t> password, first, key_string, key_sequence, key_body, wrapped, second, both;
  HRESULT hr = ComposeAnyString(sizeof(kChallengePassword) - 1, CERT_RDN_PRINTABLE_STRING,
                                reinterpret_cast<const uint8_t*>(kChallengePassword), &password, nullptr);
  TL_TRACE_STEP(hr, "ComposeAttributes", "ComposeAnyString(challenge password)");
  RETURN_IF_FAILED(hr);
  hr = ComposeSpecialAttribute(kChallengePasswordOid, password.data(), password.size(), &first, nullptr);
  TL_TRACE_STEP(hr, "ComposeAttributes", "ComposeSpecialAttribute(challenge password)");
  RETURN_IF_FAILED(hr);

  hr = ComposeAnyString(exchange_key.size(), CERT_RDN_OCTET_STRING, exchange_key.data(), &key_string, nullptr);
  TL_TRACE_STEP(hr, "ComposeAttributes", "ComposeAnyString(exchange key)");
  RETURN_IF_FAILED(hr);
  RETURN_IF_FAILED(Concat({kInteger1, key_string}, &key_body));
  hr = ASN1Encode(kTagSequence, key_body.data(), key_body.size(), &key_sequence, nullptr);
  TL_TRACE_STEP(hr, "ComposeAttributes", "ASN1Encode(exchange key)");
  RETURN_IF_FAILED(hr);
  hr = ComposeAnyString(key_sequence.size(), CERT_RDN_OCTET_STRING, key_sequence.data(), &wrapped, nullptr);
  TL_TRACE_STEP(hr, "ComposeAttributes", "ComposeAnyString(exchange key sequence)");
  RETURN_IF_FAILED(hr);
  hr = ComposeSpecialAttribute(kExchangeKeyOid, wrapped.data(), wrapped.size(), &second, nullptr);
  TL_TRACE_STEP(hr, "ComposeAttributes", "ComposeSpecialAttribute(exchange key)");
  RETURN_IF_FAILED(hr);

  RETURN_IF_FAILED(Concat({first, second}, &both));
  hr = ASN1Encode(kTagAttributes, both.data(), both.size(), element, nullptr);
  TL_TRACE_STEP(hr, "ComposeAttributes", "ASN1Encode");
  return hr;
}

HRESULT ComposeCertRequestInfo(std::u16string_view subject, const char* algorithm_oid, const char* parameters_oid,
                               std::span<const uint8_t> public_key, std::span<const uint8_t> exchange_key,
                               std::vector<uint8_t>* element) {
  TL_TRACE_SCOPE("ComposeCertRequestInfo");
  if (element == nullptr) return E_POINTER;
  std::vector<uint8_t> name, key_info, attributes, body;
  HRESULT hr = ComposeSubject(subject, &name, nullptr);
  TL_TRACE_STEP(hr, "ComposeCertRequestInfo", "ComposeSubject");
  RETURN_IF_FAILED(hr);
  hr = ComposeSignPublicKeyData(algorithm_oid, parameters_oid, public_key, &key_info);
  TL_TRACE_STEP(hr, "ComposeCertRequestInfo", "ComposeSignPublicKeyData");
  RETURN_IF_FAILED(hr);
  if (!exchange_key.empty()) {
    hr = ComposeAttributes(exchange_key, &attributes);
    TL_TRACE_STEP(hr, "ComposeCertRequestInfo", "ComposeAttributes");
    RETURN_IF_FAILED(hr);
  }
  RETURN_IF_FAILED(Concat({kVersion0, name, key_info, attributes}, &body));
  hr = ASN1Encode(kTagSequence, body.data(), body.size(), element, nullptr);
  TL_TRACE_STEP(hr, "ComposeCertRequestInfo", "ASN1Encode");
  return hr;
}

HRESULT ComposeSignAlgorithm(const char* signature_oid, std::vector<uint8_t>* element) {
  if (signature_oid == nullptr || element == nullptr) return E_POINTER;
  const HRESULT hr = ComposeSpecialAttribute(signature_oid, nullptr, 0, element, nullptr);
  TL_TRACE_STEP(hr, "ComposeSignAlgorithm", "ComposeSpecialAttribute");
  return hr;
}

HRESULT PKCS10CalculateHashandSign(HCRYPTPROV provider, const char* algorithm_oid, std::span<const uint8_t> data,
                                   ALG_ID hash_algorithm, DWORD key_spec, std::vector<uint8_t>* signature,
                                   DWORD* signature_size) {
  TL_TRACE_SCOPE("PKCS10CalculateHashandSign");
  if (algorithm_oid == nullptr || signature == nullptr) return E_POINTER;
  const bool rsa = std::string_view(algorithm_oid) == kRsaPublicKeyOid;

  struct Handles {
    HCRYPTKEY key = 0;
    HCRYPTHASH hash = 0;
    ~Handles() {
      if (hash != 0) (void)CryptDestroyHash(hash);
      if (key != 0) (void)CryptDestroyKey(key);
    }
  } handles;

  if (!CryptGetUserKey(provider, key_spec, &handles.key)) return ProviderFailure("CryptGetUserKey");
  if (TraceEnabled(kTraceInfo)) {
    std::vector<BYTE> name;
    if (SUCCEEDED(GetProviderInfo(provider, PP_NAME, &name, nullptr))) {
      name.push_back(0);
      TL_TRACE_INFO("signing with key specification %u of provider %s", key_spec,
                    reinterpret_cast<const char*>(name.data()));
    }
  }
  if (!CryptCreateHash(provider, hash_algorithm, 0, 0, &handles.hash)) return ProviderFailure("CryptCreateHash");
  for (size_t offset = 0; offset < data.size(); offset += kHashPiece) {
    const DWORD piece = static_cast<DWORD>(std::min(kHashPiece, data.size() - offset));
    if (!CryptHashData(handles.hash, data.data() + offset, piece, 0)) return ProviderFailure("CryptHashData");
  }
  DWORD size = 0;
  if (!CryptSignHashW(handles.hash, key_spec, nullptr, 0, nullptr, &size)) {
    return ProviderFailure("CryptSignHashW(size)");
  }
  // SM2 signatures are signed into a fixed, generous buffer, whatever size
  // the vendor provider announced.
  if (!rsa) size = kSm2SignatureBuffer;
  std::vector<uint8_t> out;
  try {
    out.assign(size, 0);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!CryptSignHashW(handles.hash, key_spec, nullptr, 0, out.data(), &size)) {
    return ProviderFailure("CryptSignHashW");
  }
  out.resize(std::min<size_t>(size, out.size()));
  // The provider writes little-endian numbers; DER wants them big-endian.
  if (rsa) {
    std::reverse(out.begin(), out.end());
  } else if (out.size() >= 2 * kCoordinate) {
    std::reverse(out.begin(), out.begin() + kCoordinate);
    std::reverse(out.begin() + kCoordinate, out.begin() + 2 * kCoordinate);
  }
  if (signature_size != nullptr) *signature_size = static_cast<DWORD>(out.size());
  *signature = std::move(out);
  return S_OK;
}

HRESULT ComposeSignature(bool sm2, std::span<const uint8_t> signature, std::vector<uint8_t>* element) {
  if (element == nullptr) return E_POINTER;
  std::vector<uint8_t> encoded;
  std::span<const uint8_t> bits = signature;
  if (sm2) {
    const HRESULT hr = SM2EncodeRawSignature(signature.data(), signature.size(), &encoded, nullptr);
    TL_TRACE_STEP(hr, "ComposeSignature", "SM2EncodeRawSignature");
    RETURN_IF_FAILED(hr);
    bits = encoded;
  }
  const HRESULT hr = ComposeBITString(bits.size(), bits.data(), element, nullptr);
  TL_TRACE_STEP(hr, "ComposeSignature", "ComposeBITString");
  return hr;
}

HRESULT TransformBase64EncodedDatatoHoldCRLFPer64Chars(std::string_view text, std::string* out) {
  if (out == nullptr) return E_POINTER;
  try {
    std::string wrapped;
    wrapped.reserve(text.size() + text.size() / kBase64LineChars * 2);
    size_t in_line = 0;
    for (char c : text) {
      if (c == '\r' || c == '\n') continue;
      if (in_line == kBase64LineChars) {
        wrapped += "\r\n";
        in_line = 0;
      }
      wrapped.push_back(c);
      ++in_line;
    }
    *out = std::move(wrapped);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT PKCS10RequestBase64(DWORD key_spec, HCRYPTPROV provider, std::u16string_view subject,
                            const char* algorithm_oid, const char* parameters_oid,
                            std::span<const uint8_t> public_key, std::span<const uint8_t> exchange_key,
                            ALG_ID hash_algorithm, const char* signature_oid, std::string* request,
                            size_t* request_length, bool sm2) {
  TL_TRACE_SCOPE("PKCS10RequestBase64");
  if (request == nullptr) return E_POINTER;
  HRESULT hr;
  std::vector<uint8_t> point, sm2_exchange_key;
  if (sm2) {
    hr = Sm2PointFromBlob(public_key, &point);
    TL_TRACE_STEP(hr, "PKCS10RequestBase64", "Sm2PointFromBlob");
    RETURN_IF_FAILED(hr);
    public_key = point;
    if (!exchange_key.empty()) {
      hr = Sm2ExchangeKeyFromBlob(exchange_key, &sm2_exchange_key);
      TL_TRACE_STEP(hr, "PKCS10RequestBase64", "Sm2ExchangeKeyFromBlob");
      RETURN_IF_FAILED(hr);
      exchange_key = sm2_exchange_key;
    }
  }
  std::vector<uint8_t> info, algorithm, signature, bits, body, der;
  hr = ComposeCertRequestInfo(subject, algorithm_oid, parameters_oid, public_key, exchange_key, &info);
  TL_TRACE_STEP(hr, "PKCS10RequestBase64", "ComposeCertRequestInfo");
  RETURN_IF_FAILED(hr);
  hr = ComposeSignAlgorithm(signature_oid, &algorithm);
  TL_TRACE_STEP(hr, "PKCS10RequestBase64", "ComposeSignAlgorithm");
  RETURN_IF_FAILED(hr);
  hr = PKCS10CalculateHashandSign(provider, algorithm_oid, info, hash_algorithm, key_spec, &signature, nullptr);
  TL_TRACE_STEP(hr, "PKCS10RequestBase64", "PKCS10CalculateHashandSign");
  RETURN_IF_FAILED(hr);
  hr = ComposeSignature(sm2, signature, &bits);
  TL_TRACE_STEP(hr, "PKCS10RequestBase64", "ComposeSignature");
  RETURN_IF_FAILED(hr);
  RETURN_IF_FAILED(Concat({info, algorithm, bits}, &body));
  hr = ASN1Encode(kTagSequence, body.data(), body.size(), &der, nullptr);
  TL_TRACE_STEP(hr, "PKCS10RequestBase64", "ASN1Encode");
  RETURN_IF_FAILED(hr);
  std::string base64, text;
  hr = Base64EncodeEx(der.size(), &base64, der.data(), nullptr);
  TL_TRACE_STEP(hr, "PKCS10RequestBase64", "Base64EncodeEx");
  RETURN_IF_FAILED(hr);
  hr = TransformBase64EncodedDatatoHoldCRLFPer64Chars(base64, &text);
  TL_TRACE_STEP(hr, "PKCS10RequestBase64", "TransformBase64EncodedDatatoHoldCRLFPer64Chars");
  RETURN_IF_FAILED(hr);
  if (request_length != nullptr) *request_length = text.size();
  *request = std::move(text);
  return S_OK;
}

}  // namespace tessaline
