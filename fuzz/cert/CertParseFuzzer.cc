// CertCreateCertificateContext on arbitrary bytes. Beyond not crashing: an
// accepted certificate is the input itself, every field handed out points
// inside it (the serial number is its reversed copy), its dates convert, and
// its names format consistently in both calls of the two-call pattern.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/cert/Cert.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckInside(const CRYPTOAPI_BLOB& blob, const uint8_t* data, size_t size) {
  if (blob.cbData == 0) return;
  Check(blob.pbData >= data && blob.pbData + blob.cbData <= data + size);
}

void CheckName(const CERT_NAME_BLOB& name) {
  for (DWORD type : {CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG | CERT_NAME_STR_NO_QUOTING_FLAG,
                     CERT_SIMPLE_NAME_STR, CERT_X500_NAME_STR}) {
    const DWORD needed = CertNameToStrW(X509_ASN_ENCODING, &name, type, nullptr, 0);
    if (needed == 0) continue;
    std::u16string text(needed, u'\xFFFF');
    Check(CertNameToStrW(X509_ASN_ENCODING, &name, type, text.data(), needed) == needed);
    Check(text[needed - 1] == u'\0');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, data,
                                                     static_cast<DWORD>(size));
  if (cert == nullptr) return 0;
  Check(cert->cbCertEncoded == size && std::memcmp(cert->pbCertEncoded, data, size) == 0);
  const uint8_t* own = cert->pbCertEncoded;
  const CERT_INFO& info = *cert->pCertInfo;
  for (const CRYPTOAPI_BLOB* blob : {&info.Issuer, &info.Subject, &info.SignatureAlgorithm.Parameters,
                                     &info.SubjectPublicKeyInfo.Algorithm.Parameters}) {
    CheckInside(*blob, own, size);
  }
  CheckInside(CRYPTOAPI_BLOB{info.SubjectPublicKeyInfo.PublicKey.cbData, info.SubjectPublicKeyInfo.PublicKey.pbData},
              own, size);
  for (DWORD i = 0; i < info.cExtension; ++i) {
    CheckInside(info.rgExtension[i].Value, own, size);
    Check(CertFindExtension(info.rgExtension[i].pszObjId, info.cExtension, info.rgExtension) != nullptr);
  }
  Check(info.SerialNumber.cbData > 0);
  std::string serial(reinterpret_cast<const char*>(info.SerialNumber.pbData), info.SerialNumber.cbData);
  std::reverse(serial.begin(), serial.end());
  Check(std::string(reinterpret_cast<const char*>(own), size).find(serial) != std::string::npos);
  SYSTEMTIME t;
  Check(FileTimeToSystemTime(&info.NotBefore, &t) && FileTimeToSystemTime(&info.NotAfter, &t));
  CheckName(info.Issuer);
  CheckName(info.Subject);
  Check(CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0) >= 1);
  (void)CertFreeCertificateContext(cert);
  return 0;
}
