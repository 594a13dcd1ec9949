// The request names the host answers, and the adaptors between a request's
// JSON arguments and the agent's operations.
#pragma once

#include <cjson/cJSON.h>

#include <string_view>

#include "host/JSONUtility.h"
#include "Tessaline/CryptoAgent.h"

namespace tessaline {

// An adaptor builds the response object for one request; every failure is
// reported inside that object, so it always returns 0.
using Adaptor = int (*)(JsonPtr* response, const cJSON* params, CCryptoAgent* agent);

int nmVEXA_GetCSPInfo(JsonPtr* response, const cJSON* params, CCryptoAgent* agent);
int nmVEXA_GetAllCertInfo(JsonPtr* response, const cJSON* params, CCryptoAgent* agent);
int nmVEXA_SetCSPInfo(JsonPtr* response, const cJSON* params, CCryptoAgent* agent);
int nmVEXA_SetKeyAlgorithm(JsonPtr* response, const cJSON* params, CCryptoAgent* agent);
int nmVEXA_ImportEncryptCert(JsonPtr* response, const cJSON* params, CCryptoAgent* agent);
int nmVEXA_GetContainer(JsonPtr* response, const cJSON* params, CCryptoAgent* agent);
int nmVEXA_ImportSignCert(JsonPtr* response, const cJSON* params, CCryptoAgent* agent);
int nmVEXA_PKCS10CertRequisition(JsonPtr* response, const cJSON* params, CCryptoAgent* agent);
int nmVEXA_PKCS10CertRequisitionwithMD5(JsonPtr* response, const cJSON* params, CCryptoAgent* agent);
int nmVEXA_HavePermissiontoGenerateKeyPair(JsonPtr* response, const cJSON* params, CCryptoAgent* agent);
int nmVEXA_GetVersion(JsonPtr* response, const cJSON* params, CCryptoAgent* agent);
int nmGetLastErrorDesc(JsonPtr* response, const cJSON* params, CCryptoAgent* agent);
int nmCheckHost(JsonPtr* response, const cJSON* params, CCryptoAgent* agent);

// Finds the adaptor for FUNCTION_NAME (compared in full, without regard to
// case) and runs it. Returns its result (0), or -1 without a response object
// for a name that is not served.
int Invoke(JsonPtr* response, std::string_view function_name, const cJSON* params, CCryptoAgent* agent);

}  // namespace tessaline
