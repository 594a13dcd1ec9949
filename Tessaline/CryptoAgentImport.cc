// The agent's certificate import operations. Not available yet: each
// answers E_NOTIMPL.
#include "Tessaline/CryptoAgent.h"
#include "Tessaline/Trace.h"

namespace tessaline {

HRESULT CCryptoAgent::VEXA_ImportSignCert(int32_t, const char16_t*, const char16_t*, VARIANT_BOOL*) {
  TL_TRACE_SCOPE("CCryptoAgent::VEXA_ImportSignCert");
  return Record(E_NOTIMPL);
}

HRESULT CCryptoAgent::VEXA_ImportEncryptCert(const char16_t*, const char16_t*, const char16_t*, int32_t,
                                             VARIANT_BOOL*) {
  TL_TRACE_SCOPE("CCryptoAgent::VEXA_ImportEncryptCert");
  return Record(E_NOTIMPL);
}

}  // namespace tessaline
