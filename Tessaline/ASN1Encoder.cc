#include "Tessaline/ASN1Encoder.h"

#include <algorithm>
#include <new>

#include "Tessaline/Trace.h"

namespace tessaline {
namespace {

// The only elements the request and envelope builders produce directly.
constexpr uint8_t kEncodableTags[] = {
    0x02,  // INTEGER
    0x04,  // OCTET STRING
    0x06,  // OBJECT IDENTIFIER
    0x0C,  // UTF8String
    0x13,  // PrintableString
    0x16,  // IA5String
    0x1E,  // BMPString
    0x30,  // SEQUENCE
    0x31,  // SET
    0x80,  // [0] primitive
    0xA0,  // [0] constructed
};

}  // namespace

HRESULT CalculateASNValueLength(size_t length, std::vector<uint8_t>* octets, size_t* count) {
  if (octets == nullptr) return E_POINTER;
  if (length == 0 || length > 0xFFFFFFFFu) return E_FAIL;
  try {
    std::vector<uint8_t> out;
    if (length < 0x80) {
      out.push_back(static_cast<uint8_t>(length));
    } else {
      size_t k = 1;
      while (k < 4 && (length >> (8 * k)) != 0) ++k;
      out.push_back(static_cast<uint8_t>(0x80 + k));
      for (size_t i = k; i > 0; --i) out.push_back(static_cast<uint8_t>(length >> (8 * (i - 1))));
    }
    if (count != nullptr) *count = out.size();
    *octets = std::move(out);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ASN1Encode(uint8_t tag, const uint8_t* value, size_t length, std::vector<uint8_t>* element,
                   size_t* element_length) {
  if (element == nullptr || (value == nullptr && length != 0)) return E_POINTER;
  if (std::find(std::begin(kEncodableTags), std::end(kEncodableTags), tag) == std::end(kEncodableTags)) {
    TL_TRACE_ERROR("ASN1Encode: tag 0x%02X is not supported", tag);
    return E_FAIL;
  }
  std::vector<uint8_t> octets;
  const HRESULT hr = CalculateASNValueLength(length, &octets, nullptr);
  TL_TRACE_STEP(hr, "ASN1Encode", "CalculateASNValueLength");
  RETURN_IF_FAILED(hr);
  try {
    std::vector<uint8_t> out;
    out.reserve(1 + octets.size() + length);
    out.push_back(tag);
    out.insert(out.end(), octets.begin(), octets.end());
    out.insert(out.end(), value, value + length);
    if (element_length != nullptr) *element_length = out.size();
    *element = std::move(out);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace tessaline
