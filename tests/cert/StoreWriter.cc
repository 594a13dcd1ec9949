// store_writer COUNT FIRST_SERIAL: adds COUNT new certificates to the user's
// MY store, one transaction each, and prints "added N" after each one
// (flushed), so that a test can kill it in the middle of the stream.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/cert/Cert.h"
#include "tests/cert/CertFactory.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: store_writer COUNT FIRST_SERIAL\n");
    return 2;
  }
  const long count = std::strtol(argv[1], nullptr, 10);
  const unsigned long long first = std::strtoull(argv[2], nullptr, 10);
  tessaline::test::CertFactory factory;
  for (long i = 0; i < count; ++i) {
    const uint64_t serial = first + static_cast<uint64_t>(i);
    const auto der = factory.Make("Writer " + std::to_string(serial), serial);
    // Each addition opens the store anew, as each request of the agent does.
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, u"MY");
    if (store == nullptr ||
        !CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_NEW, nullptr)) {
      std::fprintf(stderr, "store_writer: failed with 0x%08X\n", GetLastError());
      return 1;
    }
    (void)CertCloseStore(store, 0);
    std::printf("added %llu\n", static_cast<unsigned long long>(serial));
    std::fflush(stdout);
  }
  return 0;
}
