// Subject text to DER Name, checked against the Name openssl itself encodes
// for the same subject.
#include <gtest/gtest.h>


#include "Tessaline/SubjectName.h"
#include "platform/asn1/StructTypes.h"
#include "platform/base/Utf.h"
#include "tests/asn1/OpensslAsn1Parse.h"
#include "tests/support/TestTools.h"

namespace tessaline {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(SplidWstr, KeepsEmptyPieces) {
  struct Case {
    std::u16string text;
    std::vector<std::u16string> pieces;
  } cases[] = {
      {u"a,b", {u"a", u"b"}}, {u"a,", {u"a", u""}}, {u",", {u"", u""}},
      {u"", {}},              {u"abc", {u"abc"}},   {u",,a", {u"", u"", u"a"}},
  };
  for (const auto& c : cases) {
    std::vector<std::u16string> pieces;
    ASSERT_EQ(SplidWstr(c.text, u',', &pieces), S_OK);
    EXPECT_EQ(pieces, c.pieces) << Utf16ToUtf8(c.text);
  }
}

TEST(GetObjectID, MatchesNamesIgnoringCase) {
  struct Case {
    std::u16string name;
    std::string oid;
  } cases[] = {
      {u"CN", "2.5.4.3"},           {u"cn", "2.5.4.3"},
      {u"Cn", "2.5.4.3"},           {ReplaceWchar(u" C N ", u' '), "2.5.4.3"},
      {u"S", "2.5.4.8"},            {u"ST", "2.5.4.8"},
      {u"e", "1.2.840.113549.1.9.1"}, {u"EMAIL", "1.2.840.113549.1.9.1"},
      {u"serialNumber", "2.5.4.5"}, {u"BUSINESSCATEGORY", "2.5.4.15"},
      {u"street", "2.5.4.9"},       {u"postalcode", "2.5.4.17"},
      {u"jurisdictionOfIncorporationCountryName", "1.3.6.1.4.1.311.60.2.1.3"},
      {u"DC", ""},                  {u"", ""},
      {u"C N", ""},                 {u"CN2", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(GetObjectID(c.name), c.oid) << Utf16ToUtf8(c.name);
}

TEST(ParseSubject, KeepsValuesAsWrittenAndStripsSpacesFromNames) {
  std::vector<SubjectAttribute> parsed;
  ASSERT_EQ(ParseSubject(u" C N =Alice, O=Example,OU= Unit ,X=y", &parsed), S_OK);
  ASSERT_EQ(parsed.size(), 4u);
  EXPECT_EQ(parsed[0].oid, "2.5.4.3");
  EXPECT_EQ(parsed[0].value, u"Alice");
  EXPECT_EQ(parsed[1].oid, "2.5.4.10");
  EXPECT_EQ(parsed[1].value, u"Example");
  EXPECT_EQ(parsed[2].value, u" Unit ");
  EXPECT_EQ(parsed[3].oid, "");  // unknown names fail only when encoded

  ASSERT_EQ(ParseSubject(u"", &parsed), S_OK);
  EXPECT_TRUE(parsed.empty());
}

TEST(ComposeSubject, EncodesRdnsInReverseTextOrder) {
  Bytes name;
  size_t length = 0;
  ASSERT_EQ(ComposeSubject(u"CN=Alice,O=Example,C=CN", &name, &length), S_OK);
  const Bytes expected{0x30, 0x2F,                                                             //
                       0x31, 0x0B, 0x30, 0x09, 0x06, 0x03, 0x55, 0x04, 0x06, 0x13, 0x02, 'C', 'N',  //
                       0x31, 0x10, 0x30, 0x0E, 0x06, 0x03, 0x55, 0x04, 0x0A, 0x0C, 0x07,       //
                       'E', 'x', 'a', 'm', 'p', 'l', 'e',                                        //
                       0x31, 0x0E, 0x30, 0x0C, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0C, 0x05,       //
                       'A', 'l', 'i', 'c', 'e'};
  EXPECT_EQ(name, expected);
  EXPECT_EQ(length, expected.size());

  ASSERT_EQ(ComposeSubject(u"CN= Alice", &name, nullptr), S_OK);
  EXPECT_EQ(name, (Bytes{0x30, 0x11, 0x31, 0x0F, 0x30, 0x0D, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0C, 0x06, ' ', 'A',
                         'l', 'i', 'c', 'e'}));
}

TEST(ComposeSubject, ReportsEachKindOfBadSubject) {
  struct Case {
    std::u16string subject;
    HRESULT expected;
  } cases[] = {
      {u"CN=a=b", NTE_BAD_DATA},
      {u"CN=Alice,,O=Example", NTE_BAD_DATA},
      {u"CN=Alice,", NTE_BAD_DATA},
      {u"CN", NTE_BAD_DATA},
      {u"O=A,B Company", NTE_BAD_DATA},
      {u"CN=", E_FAIL},
      {u"", E_FAIL},
      {u"DC=example", E_INVALIDARG},                    // no identifier for the name
      {u"C=\u4E2D\u56FD", CRYPT_E_INVALID_PRINTABLE_STRING},
      {u"E=\u00E4@example.cn", CRYPT_E_INVALID_IA5_STRING},
  };
  for (const auto& c : cases) {
    Bytes name{7};
    size_t length = 9;
    EXPECT_EQ(ComposeSubject(c.subject, &name, &length), c.expected) << Utf16ToUtf8(c.subject);
    EXPECT_EQ(name, Bytes{7});
    EXPECT_EQ(length, 9u);
  }
}

TEST(ComposeSubject, SynonymsGiveTheSameAttribute) {
  Bytes s, st, e, email;
  ASSERT_EQ(ComposeSubject(u"S=Beijing", &s, nullptr), S_OK);
  ASSERT_EQ(ComposeSubject(u"ST=Beijing", &st, nullptr), S_OK);
  ASSERT_EQ(ComposeSubject(u"E=a@b.cn", &e, nullptr), S_OK);
  ASSERT_EQ(ComposeSubject(u"Email=a@b.cn", &email, nullptr), S_OK);
  EXPECT_EQ(s, st);
  EXPECT_EQ(e, email);
  EXPECT_EQ(e[e.size() - 8], 0x16);  // IA5String
}

// The subject as openssl encodes it in a request: same attributes, the
// first RDN given first.
Bytes OpensslName(const std::string& subj) {
  test::TempDir dir;
  test::WriteFileText(dir.File("req.cnf"), "[req]\ndistinguished_name=dn\nstring_mask=utf8only\nutf8=yes\n[dn]\n");
  auto made = test::RunCommand(
      "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out k.pem && "
      "openssl req -new -config req.cnf -key k.pem -subj '" + subj + "' -outform DER -out req.der",
      dir.path());
  EXPECT_EQ(made.exit_code, 0) << made.output;
  const Bytes der = test::ReadFileBytes(dir.File("req.der"));
  // The subject is the first SEQUENCE at depth 2.
  for (const auto& line : test::OpensslAsn1Parse(der)) {
    if (line.depth != 2 || line.type != "SEQUENCE") continue;
    const size_t size = line.header + std::stoul(line.length);
    if (line.offset + size > der.size()) break;
    return Bytes(der.begin() + static_cast<ptrdiff_t>(line.offset),
                 der.begin() + static_cast<ptrdiff_t>(line.offset + size));
  }
  ADD_FAILURE() << "no subject in the request";
  return {};
}

TEST(ComposeSubject, MatchesTheNameOpensslEncodes) {
  struct Case {
    std::u16string subject;
    std::string openssl_subj;
  } cases[] = {
      {u"CN=Alice,O=Example,C=CN", "/C=CN/O=Example/CN=Alice"},
      {u"CN=\u5F20\u4E09,SERIALNUMBER=123,C=CN,L=\u6D77\u6DC0,ST=\u5317\u4EAC,STREET=\u957F\u5B89\u8857 1\u53F7,"
       u"O=Example,OU=\u90E8\u95E8,businessCategory=Bank,PostalCode=100000,E=a@b.cn,"
       u"jurisdictionOfIncorporationLocalityName=\u6D77\u6DC0,"
       u"jurisdictionOfIncorporationStateOrProvinceName=\u5317\u4EAC,jurisdictionOfIncorporationCountryName=CN",
       "/jurisdictionC=CN/jurisdictionST=北京/jurisdictionL=海淀/emailAddress=a@b.cn/postalCode=100000"
       "/businessCategory=Bank/OU=部门/O=Example/streetAddress=长安街 1号/ST=北京/L=海淀/C=CN"
       "/serialNumber=123/CN=张三"},
  };
  for (const auto& c : cases) {
    Bytes name;
    ASSERT_EQ(ComposeSubject(c.subject, &name, nullptr), S_OK);
    EXPECT_EQ(name, OpensslName(c.openssl_subj)) << c.openssl_subj;
  }
}

TEST(ComposeSubject, OpensslPrintsTheComposedNames) {
  Bytes name;
  ASSERT_EQ(ComposeSubject(u"CN=\u5F20\u4E09,OU=\u90E8\u95E8,C=CN", &name, nullptr), S_OK);
  std::vector<std::string> printed;
  for (const auto& line : test::OpensslAsn1Parse(name)) {
    if (!line.constructed) printed.push_back(line.type + " " + line.value);
  }
  EXPECT_EQ(printed, (std::vector<std::string>{"OBJECT countryName", "PRINTABLESTRING CN",
                                               "OBJECT organizationalUnitName", "UTF8STRING 部门",
                                               "OBJECT commonName", "UTF8STRING 张三"}));
}

}  // namespace
}  // namespace tessaline
