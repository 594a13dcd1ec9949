// The agent's request operations: key pair permission and PKCS#10 requests.
#include "Tessaline/CertificateRequisition.h"
#include "Tessaline/CryptoAgent.h"
#include "Tessaline/Trace.h"

namespace tessaline {

HRESULT CCryptoAgent::VEXA_HavePermissiontoGenerateKeyPair(VARIANT_BOOL* pbResult) {
  TL_TRACE_SCOPE("CCryptoAgent::VEXA_HavePermissiontoGenerateKeyPair");
  return HavePermissiontoGenerateKeyPair(pbResult);  // records nothing
}

HRESULT CCryptoAgent::VEXA_PKCS10CertRequisition(const char16_t* bstrSubjectDN, int32_t lCertType,
                                                 int32_t nSignPrivateKeyGenerateFlags, std::u16string* pbstrRequest) {
  TL_TRACE_SCOPE("CCryptoAgent::VEXA_PKCS10CertRequisition");
  return Record(RequestCertificate({key_algorithm_, provider_name_, key_length_}, bstrSubjectDN, lCertType,
                                   nSignPrivateKeyGenerateFlags, false, pbstrRequest, &container_name_));
}

HRESULT CCryptoAgent::VEXA_PKCS10CertRequisitionwithMD5(const char16_t* bstrSubjectDN, int32_t lCertType,
                                                        int32_t nSignPrivateKeyGenerateFlags,
                                                        std::u16string* pbstrRequest) {
  TL_TRACE_SCOPE("CCryptoAgent::VEXA_PKCS10CertRequisitionwithMD5");
  return Record(RequestCertificate({key_algorithm_, provider_name_, key_length_}, bstrSubjectDN, lCertType,
                                   nSignPrivateKeyGenerateFlags, true, pbstrRequest, &container_name_));
}

}  // namespace tessaline
