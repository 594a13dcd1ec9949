// Certificates made by the openssl command line for the certificate tests,
// and small helpers around the store functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/cert/Cert.h"
#include "tests/support/TestTools.h"

namespace tessaline::test {

struct OpensslCert {
  std::string pem_path;
  std::vector<uint8_t> der;
};

// `openssl req -x509` with SUBJECT (openssl -subj syntax, UTF-8), SERIAL
// (openssl -set_serial) and EXTRA arguments, in DIR.
OpensslCert MakeOpensslCert(const TempDir& dir, const std::string& file, const std::string& subject,
                            const std::string& serial, const std::string& extra = "");

// The output of `openssl x509 -in PEM ARGS -noout`, trailing newline removed.
std::string OpensslX509(const std::string& pem, const std::string& args);

std::u16string NameToStr(const CERT_NAME_BLOB& name, DWORD type);

HCERTSTORE OpenSystem(DWORD location, const char16_t* name, DWORD flags = 0);

// Thumbprints (upper-case hex) of every certificate in STORE, in order.
std::vector<std::string> ListThumbprints(HCERTSTORE store);
std::string ThumbprintOf(PCCERT_CONTEXT cert);
std::string HexUpper(const uint8_t* data, size_t size);

}  // namespace tessaline::test
