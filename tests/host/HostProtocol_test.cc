// The host program driven through pipes as a browser drives it: one process
// answers a sequence of requests, and every answer is compared byte for
// byte (member order and compact form are part of the protocol).
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Tessaline/ErrorCodes.h"
#include "platform/base/Utf.h"
#include "tests/host/HostProcess.h"

namespace tessaline::test {
namespace {

struct Exchange {
  std::string request;
  std::string response;
};

// TEXT as the body of a JSON string, for the control characters that
// descriptions carry.
std::string JsonText(const std::u16string& text) {
  std::string escaped;
  for (const char c : Utf16ToUtf8(text)) {
    if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

constexpr char kBase[] = "Microsoft Base Cryptographic Provider v1.0";

std::string SetCspInfo(const std::string& length, const std::string& provider) {
  return R"({"function":"VEXA_SetCSPInfo","params":[)" + length + ",\"" + provider + "\"]}";
}

const char kSetCspTrue[] = R"({"function":"VEXA_SetCSPInfo","errorcode":0,"result":true})";
const char kSetCspBadLength[] = R"({"function":"VEXA_SetCSPInfo","errorcode":-1610144768,"result":false})";
const char kSetCspBadType[] = R"({"function":"VEXA_SetCSPInfo","errorcode":-1610141180,"result":false})";
const char kNoObjectNoName[] = R"({"function":"", "errorcode":-2146893779, "result":false})";
const char kVersion[] = R"({"function":"VEXA_GetVersion","errorcode":0,"result":"3.2.0.3"})";

// Order matters: later requests see the settings and last error of earlier
// ones, as in one browser session.
std::vector<Exchange> Session() {
  return {
    // Shapes of a valid request.
    {R"({"function":"VEXA_GetVersion","params":[],"randomId":"42"})",
     R"({"function":"VEXA_GetVersion","errorcode":0,"result":"3.2.0.3","randomId":"42"})"},
    {R"({"FUNCTION":"VEXA_GetVersion","Params":[],"RANDOMID":"42"})",
     R"({"function":"VEXA_GetVersion","errorcode":0,"result":"3.2.0.3","randomId":"42"})"},
    {R"({"function":"vexa_getversion","params":[]})", kVersion},
    {" \t\r\n{\"function\":\"VEXA_GetVersion\",\"params\":[]} trailing text", kVersion},
    {R"({"function":"VEXA_GetVersion","params":[],"randomId":""})", kVersion},
    {R"({"function":"VEXA_GetVersion","params":{}})", kVersion},
    {R"({"function":"VEXA_GetVersion","params":[1]})",
     R"({"function":"VEXA_GetVersion","errorcode":-2147024809,"result":false})"},
    // Requests that reach no adaptor get the fixed error text.
    {R"({"function":"NoSuchFunction","params":[],"randomId":"7"})",
     R"({"function":"NoSuchFunction", "errorcode":-2146893779, "result":false, "randomId":"7"})"},
    {R"({"function":"NoSuchFunction","params":[]})",
     R"({"function":"NoSuchFunction", "errorcode":-2146893779, "result":false})"},
    {R"({"function":"","params":[]})", kNoObjectNoName},
    {R"({"function":"VEXA_GetVersion","randomId":"7"})", kNoObjectNoName},
    {R"({"function":"VEXA_GetVersion","params":[],"randomId":42})", kNoObjectNoName},
    {R"({"function":42,"params":[]})", kNoObjectNoName},
    {"not JSON at all", kNoObjectNoName},
    {R"({"function":"VEXA_GetVersion","params":[)", kNoObjectNoName},
    {R"(["function","params"])", kNoObjectNoName},
    // Names and identifiers are escaped in the fixed text.
    {R"({"function":"a\"b\\c\n","params":[],"randomId":"x\"y"})",
     R"({"function":"a\"b\\c\n", "errorcode":-2146893779, "result":false, "randomId":"x\"y"})"},
    // The two answers whose name differs from the request's.
    {R"({"function":"checkHost","params":"anything"})", R"({"function":"CheckHost","errorcode":0,"result":0})"},
    {R"({"function":"CHECKHOST","params":null,"randomId":"r"})",
     R"({"function":"CheckHost","errorcode":0,"result":0,"randomId":"r"})"},
    // Argument counts and types.
    {R"({"function":"VEXA_SetKeyAlgorithm","params":["RSA","SM2"]})",
     R"({"function":"VEXA_SetKeyAlgorithm","errorcode":-1,"result":false})"},
    {R"({"function":"VEXA_SetCSPInfo","params":[1024]})",
     R"({"function":"VEXA_SetCSPInfo","errorcode":-1,"result":false})"},
    {R"({"function":"VEXA_GetCSPInfo","params":[1]})",
     R"({"function":"VEXA_GetCSPInfo","errorcode":-2147024809,"result":false})"},
    {R"({"function":"GetLastErrorDesc","params":[""]})",
     R"({"function":"VEXA_GetLastErrorDesc","errorcode":-2147024809,"result":false})"},
    {R"({"function":"VEXA_GetContainer","params":[0]})",
     R"({"function":"VEXA_GetContainer","errorcode":-1,"result":false})"},
    {R"({"function":"VEXA_GetAllCertInfo","params":[]})",
     R"({"function":"VEXA_GetAllCertInfo","errorcode":-1,"result":false})"},
    {R"({"function":"VEXA_ImportSignCert","params":[1,"a"]})",
     R"({"function":"VEXA_ImportSignCert","errorcode":-1,"result":false})"},
    {R"({"function":"VEXA_ImportEncryptCert","params":["a","b","c"]})",
     R"({"function":"VEXA_ImportEncryptCert","errorcode":-1,"result":false})"},
    {R"({"function":"VEXA_PKCS10CertRequisition","params":["CN=a",1]})",
     R"({"function":"VEXA_PKCS10CertRequisition","errorcode":-1,"result":false})"},
    {R"({"function":"VEXA_PKCS10CertRequisitionwithMD5","params":["CN=a",1,"0"]})",
     R"({"function":"VEXA_PKCS10CertRequisitionwithMD5","errorcode":-1610141180,"result":false})"},
    {R"({"function":"VEXA_HavePermissiontoGenerateKeyPair","params":[true]})",
     R"({"function":"VEXA_HavePermissiontoGenerateKeyPair","errorcode":-2147024809,"result":false})"},
    {SetCspInfo("\"1024\"", kBase), kSetCspBadType},
    {R"({"function":"VEXA_SetCSPInfo","params":["Microsoft Base Cryptographic Provider v1.0",1024]})",
     kSetCspBadType},
    {R"({"function":"VEXA_SetKeyAlgorithm","params":[{"value":"RSA"}]})",
     R"({"function":"VEXA_SetKeyAlgorithm","errorcode":-1610141180,"result":false})"},
    {R"({"function":"VEXA_SetKeyAlgorithm","params":[5]})",
     R"({"function":"VEXA_SetKeyAlgorithm","errorcode":-1610141180,"result":false})"},
    // None of the failures above reached the agent: nothing was recorded.
    {R"({"function":"GetLastErrorDesc","params":[]})",
     R"({"function":"VEXA_GetLastErrorDesc","errorcode":0,"result":")" + JsonText(DescribeResultCode(S_OK)) + "\"}"},
    // Bare arguments and "param" objects carry the same values; numbers are
    // truncated toward zero.
    {SetCspInfo("1024", kBase), kSetCspTrue},
    {R"({"function":"VEXA_SetCSPInfo","params":[{"param":1024},{"PARAM":"Microsoft Base Cryptographic Provider v1.0"}]})",
     kSetCspTrue},
    {SetCspInfo("1024.9", kBase), kSetCspTrue},
    {SetCspInfo("2048.9", kBase), kSetCspBadLength},
    {SetCspInfo("2048.9", "Microsoft Strong Cryptographic Provider"), kSetCspTrue},
    {SetCspInfo("-1.5", "Tessaline SM2 Cryptographic Service Provider v1.0"), kSetCspTrue},
    {R"({"function":"VEXA_SetKeyAlgorithm","params":{"first":" sm2 "}})",
     R"({"function":"VEXA_SetKeyAlgorithm","errorcode":0,"result":true})"},
    {R"({"function":"VEXA_GetContainer","params":[]})",
     R"({"function":"VEXA_GetContainer","errorcode":0,"result":""})"},
    // A failure is described by the next requests, again and again.
    {R"({"function":"VEXA_SetKeyAlgorithm","params":["DSA"]})",
     R"({"function":"VEXA_SetKeyAlgorithm","errorcode":-1610144767,"result":false})"},
    {R"({"function":"GetLastErrorDesc","params":[]})",
     R"j({"function":"VEXA_GetLastErrorDesc","errorcode":0,"result":"Invalid key algorithm.\n(0xa0072401)"})j"},
    {R"({"function":"VEXA_GetVersion","params":[]})", kVersion},
    {R"({"function":"getlasterrordesc","params":[],"randomId":"again"})",
     R"j({"function":"VEXA_GetLastErrorDesc","errorcode":0,"result":"Invalid key algorithm.\n(0xa0072401)","randomId":"again"})j"},
    {R"({"function":"VEXA_GetCSPInfo","params":[]})",
     R"({"function":"VEXA_GetCSPInfo","errorcode":0,"result":"Microsoft Base Cryptographic Provider v1.0||)"
     R"(Microsoft Enhanced Cryptographic Provider v1.0||Microsoft Enhanced RSA and AES Cryptographic Provider||)"
     R"(Microsoft Strong Cryptographic Provider||Tessaline SM2 Cryptographic Service Provider v1.0"})"},
  };
}

bool IsJsonObject(const std::string& text) {
  cJSON* json = cJSON_ParseWithOpts(text.c_str(), nullptr, true);
  const bool ok = cJSON_IsObject(json) && cJSON_IsString(cJSON_GetObjectItemCaseSensitive(json, "function")) &&
                  cJSON_IsNumber(cJSON_GetObjectItemCaseSensitive(json, "errorcode"));
  cJSON_Delete(json);
  return ok;
}

TEST(HostProtocol, SessionOfRequestsIsAnsweredInOrder) {
  const std::vector<Exchange> kSession = Session();
  InputChunks input(1);
  for (const Exchange& exchange : kSession) input[0] += Frame(exchange.request);
  HostOptions options;
  options.arguments = {"chrome-extension://aaaabbbbccccddddeeeeffffgggghhhh/"};
  const HostRun run = RunHost(input, options);
  EXPECT_EQ(run.exit_code, 0);
  std::string rest;
  const std::vector<std::string> responses = SplitFrames(run.output, &rest);
  EXPECT_EQ(rest, "");
  ASSERT_EQ(responses.size(), kSession.size());
  for (size_t i = 0; i < kSession.size(); ++i) {
    EXPECT_EQ(responses[i], kSession[i].response) << "request " << i << ": " << kSession[i].request;
    EXPECT_TRUE(IsJsonObject(responses[i])) << responses[i];
  }
}

TEST(HostProtocol, DescribesTheLastErrorInTheUserInterfaceLanguage) {
  const std::string requests = Frame(R"({"function":"VEXA_SetKeyAlgorithm","params":["DSA"]})") +
                               Frame(R"({"function":"GetLastErrorDesc","params":[]})");
  const std::string chinese =
      "{\"function\":\"VEXA_GetLastErrorDesc\",\"errorcode\":0,\"result\":\"无效的密钥算法\\n(0xa0072401)\"}";
  HostOptions options;
  options.environment = {"LC_ALL", "LC_MESSAGES", "LANG=zh_CN.UTF-8"};  // no name=value: unset
  const HostRun run = RunHost({requests}, options);
  EXPECT_EQ(run.exit_code, 0);
  const std::vector<std::string> responses = SplitFrames(run.output, nullptr);
  ASSERT_EQ(responses.size(), 2u);
  EXPECT_EQ(responses[1], chinese);
}

TEST(HostProtocol, NewAgentDescribesSuccess) {
  const HostRun run = RunHost({Frame(R"({"function":"GetLastErrorDesc","params":[]})")});
  const std::vector<std::string> responses = SplitFrames(run.output, nullptr);
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_NE(responses[0].find(R"j(\n(0x00000000)"})j"), std::string::npos) << responses[0];
}

}  // namespace
}  // namespace tessaline::test
