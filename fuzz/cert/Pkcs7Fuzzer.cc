// A PKCS#7 store opened on arbitrary bytes. Beyond not crashing: every
// certificate of an opened store is a run of bytes of the input, and the
// store is closed cleanly whatever it held.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/cert/Cert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(size), const_cast<BYTE*>(data)};
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_PKCS7, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                   CERT_STORE_READONLY_FLAG, &blob);
  if (store == nullptr) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr); cert != nullptr;
       cert = CertEnumCertificatesInStore(store, cert)) {
    const std::string_view encoded(reinterpret_cast<const char*>(cert->pbCertEncoded), cert->cbCertEncoded);
    if (input.find(encoded) == std::string_view::npos) std::abort();
  }
  if (!CertCloseStore(store, 0)) std::abort();
  return 0;
}
