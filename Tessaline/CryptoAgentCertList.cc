// The agent's certificate list operation. Not available yet: it answers
// E_NOTIMPL.
#include "Tessaline/CryptoAgent.h"
#include "Tessaline/Trace.h"

namespace tessaline {

HRESULT CCryptoAgent::VEXA_GetAllCertInfo(const char16_t*, std::u16string*) {
  TL_TRACE_SCOPE("CCryptoAgent::VEXA_GetAllCertInfo");
  return Record(E_NOTIMPL);
}

}  // namespace tessaline
