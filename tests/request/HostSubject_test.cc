// Subject texts as pages send them, through the host: names in any case and
// with spaces, synonyms, Chinese values, and the codes of malformed texts.
#include <gtest/gtest.h>

#include "tests/request/HostSession.h"
#include "tests/request/RequestFixture.h"
#include "tests/support/TestTools.h"

namespace tessaline::test {
namespace {

class HostSubjectTest : public RequestTest {};

std::string Pem(const std::string& base64) {
  std::string body;
  for (char c : base64) {
    if (c != '\r') body.push_back(c);
  }
  return "-----BEGIN CERTIFICATE REQUEST-----\n" + body + "\n-----END CERTIFICATE REQUEST-----\n";
}

TEST_F(HostSubjectTest, EncodesNamesAsOpensslReadsThem) {
  const auto responses =
      RunSession({SetCspInfo(256, Narrow(TL_SM2_PROV_W)), SetKeyAlgorithm("SM2"),
                  Requisition(" c N =张三, st=北京,S=海淀,E=zs@example.cn,eMail=z@example.cn,o=Example,c=CN", 1, 0)});
  ASSERT_EQ(responses.size(), 3u);
  ASSERT_EQ(responses[2].errorcode, 0);
  TempDir dir;
  WriteFileText(dir.File("req.pem"), Pem(responses[2].text));
  const auto subject = RunCommand(
      "openssl req -in req.pem -noout -verify -vfyopt distid:1234567812345678 -subject -nameopt RFC2253,-esc_msb",
      dir.path());
  EXPECT_EQ(subject.exit_code, 0) << subject.output;
  EXPECT_NE(subject.output.find("subject=CN=张三,ST=北京,ST=海淀,emailAddress=zs@example.cn,"
                                "emailAddress=z@example.cn,O=Example,C=CN"),
            std::string::npos)
      << subject.output;
  // The string type of each attribute, in DER order (the last pair first).
  const auto parsed = RunCommand("openssl asn1parse -in req.pem | grep -o '[A-Z0-9]*STRING *:.*'", dir.path());
  EXPECT_EQ(parsed.output,
            "PRINTABLESTRING   :CN\n"
            "UTF8STRING        :Example\n"
            "IA5STRING         :z@example.cn\n"
            "IA5STRING         :zs@example.cn\n"
            "UTF8STRING        :海淀\n"
            "UTF8STRING        :北京\n"
            "UTF8STRING        :张三\n");
}

TEST_F(HostSubjectTest, MalformedTextsFailWithTheirCodes) {
  const struct {
    const char* subject;
    int errorcode;
  } cases[] = {
      {"CN=a=b", -2146893819},               // 0x80090005: a value with "="
      {"CN=Alice,,O=Example", -2146893819},  // an empty piece
      {"CN=Alice,", -2146893819},            // a trailing comma
      {"CN", -2146893819},                   // no "="
      {"O=A,B Company", -2146893819},        // a comma inside a value
      {"CN=", -2147467259},                  // 0x80004005: an empty value
      {"", -2147467259},                     // no pair at all
      {"DC=example", -2147024809},           // 0x80070057: a name outside the table
  };
  std::vector<std::string> requests = {SetCspInfo(256, Narrow(TL_SM2_PROV_W)), SetKeyAlgorithm("SM2")};
  for (const auto& c : cases) requests.push_back(Requisition(c.subject, 1, 0));
  const auto responses = RunSession(requests);
  ASSERT_EQ(responses.size(), requests.size());
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(responses[i + 2].errorcode, cases[i].errorcode) << cases[i].subject;
    EXPECT_EQ(responses[i + 2].text, "") << cases[i].subject;
  }
}

}  // namespace
}  // namespace tessaline::test
