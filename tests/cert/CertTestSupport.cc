#include "tests/cert/CertTestSupport.h"

#include <gtest/gtest.h>

namespace tessaline::test {

OpensslCert MakeOpensslCert(const TempDir& dir, const std::string& file, const std::string& subject,
                            const std::string& serial, const std::string& extra) {
  OpensslCert cert;
  cert.pem_path = dir.File(file + ".pem");
  const CommandResult made = RunCommand("openssl req -x509 -utf8 -newkey ec -pkeyopt ec_paramgen_curve:P-256 "
                                        "-nodes -keyout " + file + ".key -out " + file + ".pem -days 30 -subj '" +
                                            subject + "' -set_serial " + serial + " " + extra +
                                            " && openssl x509 -in " + file + ".pem -outform DER -out " + file +
                                            ".der",
                                        dir.path());
  EXPECT_EQ(made.exit_code, 0) << made.output;
  cert.der = ReadFileBytes(dir.File(file + ".der"));
  return cert;
}

std::string OpensslX509(const std::string& pem, const std::string& args) {
  CommandResult result = RunCommand("openssl x509 -in '" + pem + "' -noout " + args);
  EXPECT_EQ(result.exit_code, 0) << result.output;
  while (!result.output.empty() && result.output.back() == '\n') result.output.pop_back();
  return result.output;
}

std::u16string NameToStr(const CERT_NAME_BLOB& name, DWORD type) {
  const DWORD size = CertNameToStrW(X509_ASN_ENCODING, &name, type, nullptr, 0);
  if (size == 0) return u"<error>";
  std::u16string text(size, u'\0');
  const DWORD written = CertNameToStrW(X509_ASN_ENCODING, &name, type, text.data(), size);
  EXPECT_EQ(written, size);
  text.resize(size - 1);
  return text;
}

HCERTSTORE OpenSystem(DWORD location, const char16_t* name, DWORD flags) {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, location | flags, name);
}

std::string HexUpper(const uint8_t* data, size_t size) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += kHex[data[i] >> 4];
    text += kHex[data[i] & 15];
  }
  return text;
}

std::string ThumbprintOf(PCCERT_CONTEXT cert) {
  BYTE hash[20];
  DWORD size = sizeof(hash);
  if (!CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, hash, &size)) return "?";
  return HexUpper(hash, size);
}

std::vector<std::string> ListThumbprints(HCERTSTORE store) {
  std::vector<std::string> list;
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c != nullptr;
       c = CertEnumCertificatesInStore(store, c)) {
    list.push_back(ThumbprintOf(c));
  }
  return list;
}

}  // namespace tessaline::test
