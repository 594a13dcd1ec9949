// The agent's request operations: key pair permission and PKCS#10 requests.
// Not available yet: each answers E_NOTIMPL.
#include "Tessaline/CryptoAgent.h"
#include "Tessaline/Trace.h"

namespace tessaline {

HRESULT CCryptoAgent::VEXA_HavePermissiontoGenerateKeyPair(VARIANT_BOOL*) {
  TL_TRACE_SCOPE("CCryptoAgent::VEXA_HavePermissiontoGenerateKeyPair");
  return E_NOTIMPL;  // records nothing, like the finished operation
}

HRESULT CCryptoAgent::VEXA_PKCS10CertRequisition(const char16_t*, int32_t, int32_t, std::u16string*) {
  TL_TRACE_SCOPE("CCryptoAgent::VEXA_PKCS10CertRequisition");
  return Record(E_NOTIMPL);
}

HRESULT CCryptoAgent::VEXA_PKCS10CertRequisitionwithMD5(const char16_t*, int32_t, int32_t, std::u16string*) {
  TL_TRACE_SCOPE("CCryptoAgent::VEXA_PKCS10CertRequisitionwithMD5");
  return Record(E_NOTIMPL);
}

}  // namespace tessaline
