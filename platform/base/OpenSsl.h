// One owner type per OpenSSL object: UniquePtr<EVP_PKEY> and friends free
// with the matching OpenSSL function. Only platform code includes this.
#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>

namespace tessaline {

template <typename T>
struct OpenSslDeleter;

#define TESSALINE_OPENSSL_DELETER(type, free_fn)        \
  template <>                                           \
  struct OpenSslDeleter<type> {                         \
    void operator()(type* p) const { free_fn(p); }      \
  };

TESSALINE_OPENSSL_DELETER(BIO, BIO_free_all)
TESSALINE_OPENSSL_DELETER(BIGNUM, BN_free)
TESSALINE_OPENSSL_DELETER(BN_CTX, BN_CTX_free)
TESSALINE_OPENSSL_DELETER(EC_GROUP, EC_GROUP_free)
TESSALINE_OPENSSL_DELETER(EC_POINT, EC_POINT_free)
TESSALINE_OPENSSL_DELETER(ECDSA_SIG, ECDSA_SIG_free)
TESSALINE_OPENSSL_DELETER(EVP_CIPHER_CTX, EVP_CIPHER_CTX_free)
TESSALINE_OPENSSL_DELETER(EVP_MD_CTX, EVP_MD_CTX_free)
TESSALINE_OPENSSL_DELETER(EVP_PKEY, EVP_PKEY_free)
TESSALINE_OPENSSL_DELETER(EVP_PKEY_CTX, EVP_PKEY_CTX_free)
TESSALINE_OPENSSL_DELETER(OSSL_PARAM, OSSL_PARAM_free)
TESSALINE_OPENSSL_DELETER(OSSL_PARAM_BLD, OSSL_PARAM_BLD_free)
TESSALINE_OPENSSL_DELETER(PKCS7, PKCS7_free)
TESSALINE_OPENSSL_DELETER(X509, X509_free)
TESSALINE_OPENSSL_DELETER(X509_NAME, X509_NAME_free)

#undef TESSALINE_OPENSSL_DELETER

template <typename T>
using UniquePtr = std::unique_ptr<T, OpenSslDeleter<T>>;

}  // namespace tessaline
