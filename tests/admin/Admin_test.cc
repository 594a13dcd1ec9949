// The admin command's certificate commands, run as a program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "platform/cert/Cert.h"
#include "platform/storage/Database.h"
#include "tests/support/TestScopes.h"
#include "tests/support/TestTools.h"

namespace tessaline::test {
namespace {

const std::string kTessaline = std::string(TESSALINE_BINARY_DIR) + "/bin/tessaline";

CommandResult Admin(const std::string& args, const std::string& dir = ".") {
  return RunCommand("TZ=UTC '" + kTessaline + "' " + args, dir);
}

std::string MakeCert(const TempDir& dir, const std::string& name, const std::string& subject) {
  const CommandResult made = RunCommand("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
                                        "-keyout " + name + ".key -out " + name + ".pem -days 10 -set_serial 0x00F1E2 "
                                        "-subj '" + subject + "' && openssl x509 -in " + name + ".pem -outform DER -out " +
                                        name + ".der",
                                        dir.path());
  EXPECT_EQ(made.exit_code, 0) << made.output;
  return dir.File(name + ".pem");
}

std::string Openssl(const std::string& args) {
  CommandResult r = RunCommand("openssl " + args);
  if (!r.output.empty() && r.output.back() == '\n') r.output.pop_back();
  return r.output;
}

TEST(AdminCerts, FreshUserHasNothingToList) {
  FreshScopes();
  const CommandResult result = Admin("certs");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(Admin("certs CA").output, "");
}

TEST(AdminCerts, AddListAndDeleteRoundTrip) {
  FreshScopes();
  TempDir dir;
  const std::string pem = MakeCert(dir, "user", "/C=CN/O=Bank/CN=Admin User");
  std::string thumbprint = Openssl("x509 -in " + pem + " -noout -fingerprint -sha1");
  thumbprint = thumbprint.substr(thumbprint.find('=') + 1);
  thumbprint.erase(std::remove(thumbprint.begin(), thumbprint.end(), ':'), thumbprint.end());
  const std::string not_before = Openssl("x509 -in " + pem + " -noout -startdate -dateopt iso_8601");
  const std::string not_after = Openssl("x509 -in " + pem + " -noout -enddate -dateopt iso_8601");
  auto local = [](const std::string& line) {  // "notBefore=2026-12-11 11:44:34Z", shown in UTC here
    return line.substr(line.find('=') + 1, 19);
  };

  CommandResult added = Admin("add-cert MY '" + pem + "'");
  ASSERT_EQ(added.exit_code, 0) << added.output;
  EXPECT_EQ(added.output, thumbprint + "\n");
  // The DER form of the same certificate is the same certificate.
  added = Admin("add-cert my '" + dir.File("user.der") + "'");
  ASSERT_EQ(added.exit_code, 0) << added.output;

  const std::string line = thumbprint + "\tCN=Admin User, O=Bank, C=CN\t00f1e2\t" + local(not_before) + "\t" +
                           local(not_after) + "\t-\n";
  EXPECT_EQ(Admin("certs").output, line);
  EXPECT_EQ(Admin("certs MY").output, line);
  EXPECT_EQ(Admin("certs --machine MY").output, "");

  // A certificate with a key-provider property shows its provider.
  storage::Database::CloseAll();
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, X509_ASN_ENCODING, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                                   u"MY");
  PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr);
  ASSERT_NE(cert, nullptr);
  CRYPT_KEY_PROV_INFO info{const_cast<LPWSTR>(u"c1"), const_cast<LPWSTR>(u"Vendor \u5382\u5546 CSP"), 1, 0, 0,
                           nullptr, AT_SIGNATURE};
  ASSERT_TRUE(CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  (void)CertFreeCertificateContext(cert);
  (void)CertCloseStore(store, 0);
  storage::Database::CloseAll();
  EXPECT_EQ(Admin("certs").output, line.substr(0, line.size() - 2) + "Vendor \xE5\x8E\x82\xE5\x95\x86 CSP\n");

  // Control characters cannot forge fields or lines.
  store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, X509_ASN_ENCODING, 0, CERT_SYSTEM_STORE_CURRENT_USER, u"MY");
  cert = CertEnumCertificatesInStore(store, nullptr);
  ASSERT_NE(cert, nullptr);
  info.pwszProvName = const_cast<LPWSTR>(u"Evil\n\tCSP\\");
  ASSERT_TRUE(CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  (void)CertFreeCertificateContext(cert);
  (void)CertCloseStore(store, 0);
  storage::Database::CloseAll();
  EXPECT_EQ(Admin("certs").output, line.substr(0, line.size() - 2) + "Evil\\x0A\\x09CSP\\x5C\n");

  const std::string lower = [&] {
    std::string s = thumbprint;
    std::transform(s.begin(), s.end(), s.begin(), ::tolower);
    return s;
  }();
  const CommandResult deleted = Admin("delete-cert MY " + lower);
  EXPECT_EQ(deleted.exit_code, 0) << deleted.output;
  EXPECT_EQ(Admin("certs").output, "");
  const CommandResult again = Admin("delete-cert MY " + thumbprint);
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.output.find("no certificate"), std::string::npos);
}

TEST(AdminCerts, BadInputGivesAMessageAndAFailingStatus) {
  FreshScopes();
  TempDir dir;
  WriteFileText(dir.File("garbage.pem"), "-----BEGIN CERTIFICATE-----\nnot base64 at all\n-----END CERTIFICATE-----\n");
  WriteFileBytes(dir.File("garbage.der"), {0x30, 0x03, 0x02, 0x01, 0x01});
  const struct {
    std::string args;
    int status;
    std::string message;
  } cases[] = {
      {"", 2, "usage: tessaline COMMAND"},
      {"frobnicate", 2, "unknown command 'frobnicate'"},
      {"certs MY CA", 2, "usage: tessaline certs"},
      {"certs --verbose", 2, "unknown option '--verbose'"},
      {"add-cert MY", 2, "usage: tessaline add-cert"},
      {"add-cert MY '" + dir.File("missing.pem") + "'", 1, "cannot read"},
      {"add-cert MY '" + dir.File("garbage.pem") + "'", 1, "no certificate found"},
      {"add-cert MY '" + dir.File("garbage.der") + "'", 1, "not a valid X.509 certificate"},
      {"add-cert 'A\\B' '" + dir.File("garbage.der") + "'", 1, "not a valid X.509 certificate"},
      {"delete-cert MY 1234", 2, "40 hexadecimal digits"},
      {"delete-cert MY", 2, "usage: tessaline delete-cert"},
      {"certs 'A\\B'", 1, "invalid store name"},
      {"certs ''", 1, "invalid store name"},
      {"certs \"$(printf 'M\\377Y')\"", 2, "must be UTF-8"},
  };
  for (const auto& c : cases) {
    const CommandResult result = Admin(c.args);
    EXPECT_EQ(result.exit_code, c.status) << c.args << "\n" << result.output;
    EXPECT_NE(result.output.find(c.message), std::string::npos) << c.args << "\n" << result.output;
  }
  EXPECT_EQ(Admin("certs").output, "");  // nothing was written
}

TEST(AdminCerts, MachineStoreIsReadOnlyForOrdinaryUsers) {
  if (geteuid() != 0 || RunCommand("command -v setpriv").exit_code != 0) {
    GTEST_SKIP() << "needs root and setpriv to run as another user";
  }
  TempDir dir;
  ASSERT_EQ(RunCommand("chmod 0755 . && mkdir -m 0777 home && cp '" + kTessaline + "' .", dir.path()).exit_code, 0);
  const std::string pem = MakeCert(dir, "ca", "/C=CN/O=Bank/CN=Machine CA");
  ASSERT_EQ(RunCommand("chmod 0644 ca.pem", dir.path()).exit_code, 0);
  const std::string env = "env HOME=home XDG_DATA_HOME=home TESSALINE_MACHINE_DIR=machine TZ=UTC "
                          "ASAN_OPTIONS=detect_leaks=0 ";
  ASSERT_EQ(RunCommand(env + "./tessaline add-cert --machine CA ca.pem", dir.path()).exit_code, 0);
  const std::string as_user = "setpriv --reuid=65534 --regid=65534 --clear-groups " + env;
  const CommandResult listed = RunCommand(as_user + "./tessaline certs --machine CA", dir.path());
  EXPECT_EQ(listed.exit_code, 0) << listed.output;
  EXPECT_NE(listed.output.find("CN=Machine CA, O=Bank, C=CN"), std::string::npos) << listed.output;
  const CommandResult denied = RunCommand(as_user + "./tessaline add-cert --machine ROOT ca.pem", dir.path());
  EXPECT_EQ(denied.exit_code, 1);
  EXPECT_NE(denied.output.find("permission denied"), std::string::npos) << denied.output;
  const std::string thumbprint = listed.output.substr(0, 40);
  const CommandResult not_deleted = RunCommand(as_user + "./tessaline delete-cert --machine CA " + thumbprint, dir.path());
  EXPECT_EQ(not_deleted.exit_code, 1);
  EXPECT_NE(not_deleted.output.find("permission denied"), std::string::npos) << not_deleted.output;
  // The user's own store is theirs.
  EXPECT_EQ(RunCommand(as_user + "./tessaline add-cert MY ca.pem", dir.path()).exit_code, 0);
  EXPECT_EQ(RunCommand(env + "./tessaline certs --machine CA", dir.path()).output, listed.output);
}

}  // namespace
}  // namespace tessaline::test
