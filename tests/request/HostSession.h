// Runs one host session (one process, requests in order, as one page would
// send them) and gives back the parsed responses.
#pragma once

#include <cjson/cJSON.h>

#include <string>
#include <vector>

#include "tests/host/HostProcess.h"

namespace tessaline::test {

struct Response {
  std::string function;
  int errorcode = 0;
  std::string text;      // "result" when it is a string
  bool boolean = false;  // "result" when it is a boolean
};

inline std::vector<Response> RunSession(const std::vector<std::string>& requests) {
  std::string input;
  for (const auto& request : requests) input += Frame(request);
  const HostRun run = RunHost({input});
  std::vector<Response> responses;
  for (const std::string& body : SplitFrames(run.output, nullptr)) {
    Response response;
    if (cJSON* json = cJSON_Parse(body.c_str())) {
      const cJSON* function = cJSON_GetObjectItem(json, "function");
      const cJSON* code = cJSON_GetObjectItem(json, "errorcode");
      const cJSON* result = cJSON_GetObjectItem(json, "result");
      if (cJSON_IsString(function)) response.function = function->valuestring;
      if (cJSON_IsNumber(code)) response.errorcode = static_cast<int>(code->valuedouble);
      if (cJSON_IsString(result)) response.text = result->valuestring;
      response.boolean = cJSON_IsTrue(result);
      cJSON_Delete(json);
    }
    responses.push_back(response);
  }
  return responses;
}

inline std::string SetCspInfo(int bits, const std::string& provider) {
  return R"({"function":"VEXA_SetCSPInfo","params":[)" + std::to_string(bits) + ",\"" + provider + "\"]}";
}
inline std::string SetKeyAlgorithm(const std::string& algorithm) {
  return R"({"function":"VEXA_SetKeyAlgorithm","params":[")" + algorithm + "\"]}";
}
inline std::string Requisition(const std::string& subject, int type, int flags, bool md5 = false) {
  return std::string(R"({"function":"VEXA_PKCS10CertRequisition)") + (md5 ? "withMD5" : "") + R"(","params":[")" +
         subject + "\"," + std::to_string(type) + "," + std::to_string(flags) + "]}";
}
inline std::string GetContainer() { return R"({"function":"VEXA_GetContainer","params":[]})"; }

}  // namespace tessaline::test
