#include "Tessaline/CryptoAgent.h"

#include <new>
#include <string_view>

#include "Tessaline/ErrorCodes.h"
#include "Tessaline/ProviderEnumeration.h"
#include "Tessaline/Trace.h"
#include "Tessaline/Version.h"

namespace tessaline {
namespace {

// Page arguments are trimmed of spaces (U+0020) only: tabs and line breaks
// are part of the text.
std::u16string_view TrimSpaces(std::u16string_view text) {
  const size_t first = text.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return {};
  const size_t last = text.find_last_not_of(u' ');
  return text.substr(first, last - first + 1);
}

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

bool Contains(std::u16string_view text, std::u16string_view part) {
  return text.find(part) != std::u16string_view::npos;
}

// The key lengths a provider accepts, by its name (case-sensitive): the
// base Microsoft provider stops at 1024 bits, the other Microsoft providers
// at 4096; vendor providers decide for themselves.
bool KeyLengthAllowed(std::u16string_view provider, int32_t key_length) {
  if (!Contains(provider, u"Microsoft")) return true;
  if (Contains(provider, u"Base")) return key_length == 512 || key_length == 1024;
  return key_length == 512 || key_length == 1024 || key_length == 2048 || key_length == 4096;
}

HRESULT CopyOut(std::u16string_view text, std::u16string* out) {
  try {
    out->assign(text);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

CCryptoAgent::CCryptoAgent() = default;
CCryptoAgent::~CCryptoAgent() = default;

HRESULT CCryptoAgent::VEXA_GetCSPInfo(std::u16string* pbstrCSPInfo) {
  TL_TRACE_SCOPE("CCryptoAgent::VEXA_GetCSPInfo");
  if (pbstrCSPInfo == nullptr) return Record(E_POINTER);
  std::u16string providers;
  const HRESULT result = GetAllCSPName(&providers);
  TL_TRACE_STEP(result, "CCryptoAgent::VEXA_GetCSPInfo", "GetAllCSPName");
  if (FAILED(result)) return Record(result);
  *pbstrCSPInfo = std::move(providers);
  return Record(S_OK);
}

HRESULT CCryptoAgent::VEXA_SetCSPInfo(int32_t nKeyLength, const char16_t* bstrCSPName, VARIANT_BOOL* pbResult) {
  TL_TRACE_SCOPE("CCryptoAgent::VEXA_SetCSPInfo");
  if (bstrCSPName == nullptr || pbResult == nullptr) return Record(E_INVALIDARG);
  std::u16string name;
  RETURN_IF_FAILED(Record(CopyOut(TrimSpaces(bstrCSPName), &name)));
  if (name.empty()) return Record(E_INVALIDARG);
  if (!KeyLengthAllowed(name, nKeyLength)) {
    TL_TRACE_INFO("key length %d refused for the provider", nKeyLength);
    return Record(TL_E_KEY_LENGTH_NOT_SUPPORTED);
  }
  // Pages that escape their HTML twice send "&amp;" for "&"; only the first
  // occurrence is undone.
  const size_t amp = name.find(u"&amp;");
  if (amp != std::u16string::npos) name.replace(amp, 5, u"&");
  provider_name_ = std::move(name);
  key_length_ = nKeyLength;
  *pbResult = VARIANT_TRUE;
  return Record(S_OK);
}

HRESULT CCryptoAgent::VEXA_SetKeyAlgorithm(const char16_t* bstrKeyAlgorithm, VARIANT_BOOL* pbResult) {
  TL_TRACE_SCOPE("CCryptoAgent::VEXA_SetKeyAlgorithm");
  if (bstrKeyAlgorithm == nullptr || bstrKeyAlgorithm[0] == u'\0' || pbResult == nullptr) {
    return Record(E_INVALIDARG);
  }
  // Emptiness is checked before trimming: all spaces is an unknown algorithm.
  const std::u16string_view algorithm = TrimSpaces(bstrKeyAlgorithm);
  if (!EqualsIgnoringAsciiCase(algorithm, u"RSA") && !EqualsIgnoringAsciiCase(algorithm, u"SM2")) {
    return Record(TL_E_INVALID_KEY_ALGORITHM);
  }
  RETURN_IF_FAILED(Record(CopyOut(algorithm, &key_algorithm_)));
  *pbResult = VARIANT_TRUE;
  return Record(S_OK);
}

HRESULT CCryptoAgent::VEXA_GetContainer(std::u16string* pbstrContainer) {
  TL_TRACE_SCOPE("CCryptoAgent::VEXA_GetContainer");
  if (pbstrContainer == nullptr) return Record(E_POINTER);
  RETURN_IF_FAILED(Record(CopyOut(container_name_, pbstrContainer)));
  return Record(S_OK);
}

HRESULT CCryptoAgent::VEXA_GetVersion(std::u16string* pbstrVersion) {
  if (pbstrVersion == nullptr) return E_POINTER;
  return CopyOut(kAgentVersion, pbstrVersion);
}

HRESULT CCryptoAgent::GetLastErrorDesc(std::u16string* pbstrDesc) {
  TL_TRACE_SCOPE("CCryptoAgent::GetLastErrorDesc");
  if (pbstrDesc == nullptr) return E_POINTER;
  try {
    *pbstrDesc = DescribeResultCode(last_error_);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace tessaline
