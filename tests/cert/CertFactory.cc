#include "tests/cert/CertFactory.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdlib>

#include "platform/base/OpenSsl.h"

namespace tessaline::test {

struct CertFactory::Key {
  UniquePtr<EVP_PKEY> pkey;
};

CertFactory::CertFactory() : key_(std::make_unique<Key>()) {
  key_->pkey.reset(EVP_EC_gen("P-256"));
  if (!key_->pkey) std::abort();
}

CertFactory::~CertFactory() = default;

std::vector<uint8_t> CertFactory::Make(const std::string& name, uint64_t serial) {
  UniquePtr<X509> x509(X509_new());
  X509_set_version(x509.get(), 2);
  ASN1_INTEGER_set_uint64(X509_get_serialNumber(x509.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(x509.get()), 0);
  X509_gmtime_adj(X509_getm_notAfter(x509.get()), 365L * 24 * 3600);
  X509_NAME* subject = X509_get_subject_name(x509.get());
  X509_NAME_add_entry_by_txt(subject, "C", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("CN"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Tessaline Test"),
                             -1, -1, 0);
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(name.c_str()), -1,
                             -1, 0);
  X509_set_issuer_name(x509.get(), subject);
  X509_set_pubkey(x509.get(), key_->pkey.get());
  if (X509_sign(x509.get(), key_->pkey.get(), EVP_sha256()) <= 0) std::abort();
  const int length = i2d_X509(x509.get(), nullptr);
  std::vector<uint8_t> der(static_cast<size_t>(length));
  uint8_t* cursor = der.data();
  i2d_X509(x509.get(), &cursor);
  return der;
}

}  // namespace tessaline::test
