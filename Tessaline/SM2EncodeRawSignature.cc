#include "Tessaline/SM2EncodeRawSignature.h"

#include <algorithm>
#include <new>

#include "Tessaline/ASN1Encoder.h"
#include "Tessaline/Trace.h"
#include "platform/base/Errors.h"

namespace tessaline {
namespace {

constexpr size_t kHalf = 32;
constexpr uint8_t kTagInteger = 0x02;
constexpr uint8_t kTagSequence = 0x30;

// One half as an INTEGER of 32 content bytes, or 33 when a zero byte must
// keep it positive.
HRESULT ComposeHalf(const uint8_t* half, std::vector<uint8_t>* element) {
  uint8_t content[kHalf + 1] = {0};
  const size_t pad = half[0] >= 0x80 ? 1 : 0;
  std::copy(half, half + kHalf, content + pad);
  return ASN1Encode(kTagInteger, content, kHalf + pad, element, nullptr);
}

}  // namespace

HRESULT SM2EncodeRawSignature(const uint8_t* raw, size_t raw_length, std::vector<uint8_t>* der,
                              size_t* der_length) {
  TL_TRACE_SCOPE("SM2EncodeRawSignature");
  if (der == nullptr) return E_POINTER;
  if (raw == nullptr || raw_length != 2 * kHalf) {
    TL_TRACE_ERROR("SM2EncodeRawSignature: raw signature of %zu bytes", raw_length);
    return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  }
  std::vector<uint8_t> r, s;
  HRESULT hr = ComposeHalf(raw, &r);
  TL_TRACE_STEP(hr, "SM2EncodeRawSignature", "ASN1Encode(r)");
  RETURN_IF_FAILED(hr);
  hr = ComposeHalf(raw + kHalf, &s);
  TL_TRACE_STEP(hr, "SM2EncodeRawSignature", "ASN1Encode(s)");
  RETURN_IF_FAILED(hr);
  try {
    r.insert(r.end(), s.begin(), s.end());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  hr = ASN1Encode(kTagSequence, r.data(), r.size(), der, der_length);
  TL_TRACE_STEP(hr, "SM2EncodeRawSignature", "ASN1Encode(SEQUENCE)");
  return hr;
}

}  // namespace tessaline
