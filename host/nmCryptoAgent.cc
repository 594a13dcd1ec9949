#include "host/nmCryptoAgent.h"

#include <strings.h>

#include <string>

#include "Tessaline/Misc.h"
#include "Tessaline/Trace.h"

namespace tessaline {
namespace {

constexpr HRESULT kAdaptorFailure = MakeResult(0xFFFFFFFF);  // -1
constexpr char kVersion[] = "3.2.0.3";

bool HasArguments(const cJSON* params, int count) {
  return params != nullptr && cJSON_GetArraySize(params) == count;
}

// A string argument, read and converted to UTF-16. The reader's or the
// conversion's failure code is returned as it is.
HRESULT ReadWide(const cJSON* params, int index, std::u16string* value) {
  std::string text;
  const HRESULT read = ConverJSONArrayItemtoNULLEndString(params, index, &text);
  if (read != S_OK) return read;
  size_t count = 0;
  return UTF8ToUTF16(text.c_str(), value, &count);
}

HRESULT ReadInt(const cJSON* params, int index, int32_t* value) {
  return ConverJSONArrayItemtoint(params, index, value);
}

// An agent's result: negative is the failure, anything else success.
HRESULT AgentResult(HRESULT result) { return FAILED(result) ? result : S_OK; }

int Respond(JsonPtr* response, const char* name, HRESULT code) {
  (void)ConstructResponseJSON(response, name, code, kResultFalse, nullptr);
  return 0;
}

int RespondBool(JsonPtr* response, const char* name, HRESULT code, VARIANT_BOOL value) {
  const uint8_t flag = value == VARIANT_TRUE ? 1 : 0;
  (void)ConstructResponseJSON(response, name, code, kResultTrue, &flag);
  return 0;
}

// Converts the agent's wide result; a failed conversion is the code.
int RespondString(JsonPtr* response, const char* name, HRESULT code, const std::u16string& value) {
  if (code != S_OK) return Respond(response, name, code);
  std::string text;
  size_t count = 0;
  const HRESULT converted = UTF16ToUTF8(value.c_str(), &text, &count);
  if (converted != S_OK) return Respond(response, name, converted);
  (void)ConstructResponseJSON(response, name, S_OK, kResultString, text.c_str());
  return 0;
}

// The request operations 6 and 10 share their arguments.
template <HRESULT (CCryptoAgent::*Operation)(const char16_t*, int32_t, int32_t, std::u16string*)>
int RequisitionAdaptor(JsonPtr* response, const char* name, const cJSON* params, CCryptoAgent* agent) {
  if (!HasArguments(params, 3)) return Respond(response, name, kAdaptorFailure);
  std::u16string subject;
  int32_t cert_type = 0;
  int32_t flags = 0;
  HRESULT code = ReadWide(params, 0, &subject);
  if (code == S_OK) code = ReadInt(params, 1, &cert_type);
  if (code == S_OK) code = ReadInt(params, 2, &flags);
  if (code != S_OK) return Respond(response, name, code);
  std::u16string request;
  code = AgentResult((agent->*Operation)(subject.c_str(), cert_type, flags, &request));
  return RespondString(response, name, code, request);
}

}  // namespace

int nmVEXA_GetCSPInfo(JsonPtr* response, const cJSON* params, CCryptoAgent* agent) {
  constexpr char kName[] = "VEXA_GetCSPInfo";
  if (!HasArguments(params, 0)) return Respond(response, kName, E_INVALIDARG);
  std::u16string providers;
  return RespondString(response, kName, AgentResult(agent->VEXA_GetCSPInfo(&providers)), providers);
}

int nmVEXA_GetAllCertInfo(JsonPtr* response, const cJSON* params, CCryptoAgent* agent) {
  constexpr char kName[] = "VEXA_GetAllCertInfo";
  if (!HasArguments(params, 1)) return Respond(response, kName, kAdaptorFailure);
  std::u16string providers;
  const HRESULT read = ReadWide(params, 0, &providers);
  if (read != S_OK) return Respond(response, kName, read);
  std::u16string certificates;
  const HRESULT code = AgentResult(agent->VEXA_GetAllCertInfo(providers.c_str(), &certificates));
  return RespondString(response, kName, code, certificates);
}

int nmVEXA_SetCSPInfo(JsonPtr* response, const cJSON* params, CCryptoAgent* agent) {
  constexpr char kName[] = "VEXA_SetCSPInfo";
  if (!HasArguments(params, 2)) return Respond(response, kName, kAdaptorFailure);
  int32_t key_length = 0;
  std::u16string provider;
  HRESULT code = ReadInt(params, 0, &key_length);
  if (code == S_OK) code = ReadWide(params, 1, &provider);
  if (code != S_OK) return Respond(response, kName, code);
  VARIANT_BOOL done = VARIANT_FALSE;
  code = AgentResult(agent->VEXA_SetCSPInfo(key_length, provider.c_str(), &done));
  return RespondBool(response, kName, code, done);
}

int nmVEXA_SetKeyAlgorithm(JsonPtr* response, const cJSON* params, CCryptoAgent* agent) {
  constexpr char kName[] = "VEXA_SetKeyAlgorithm";
  if (!HasArguments(params, 1)) return Respond(response, kName, kAdaptorFailure);
  std::u16string algorithm;
  HRESULT code = ReadWide(params, 0, &algorithm);
  if (code != S_OK) return Respond(response, kName, code);
  VARIANT_BOOL done = VARIANT_FALSE;
  code = AgentResult(agent->VEXA_SetKeyAlgorithm(algorithm.c_str(), &done));
  return RespondBool(response, kName, code, done);
}

int nmVEXA_ImportEncryptCert(JsonPtr* response, const cJSON* params, CCryptoAgent* agent) {
  constexpr char kName[] = "VEXA_ImportEncryptCert";
  if (!HasArguments(params, 4)) return Respond(response, kName, kAdaptorFailure);
  std::u16string private_key;
  std::u16string certificate;
  std::u16string container;
  int32_t flags = 0;
  HRESULT code = ReadWide(params, 0, &private_key);
  if (code == S_OK) code = ReadWide(params, 1, &certificate);
  if (code == S_OK) code = ReadWide(params, 2, &container);
  if (code == S_OK) code = ReadInt(params, 3, &flags);
  if (code != S_OK) return Respond(response, kName, code);
  VARIANT_BOOL done = VARIANT_FALSE;
  code = AgentResult(
      agent->VEXA_ImportEncryptCert(private_key.c_str(), certificate.c_str(), container.c_str(), flags, &done));
  return RespondBool(response, kName, code, done);
}

int nmVEXA_GetContainer(JsonPtr* response, const cJSON* params, CCryptoAgent* agent) {
  constexpr char kName[] = "VEXA_GetContainer";
  if (!HasArguments(params, 0)) return Respond(response, kName, kAdaptorFailure);
  std::u16string container;
  if (FAILED(agent->VEXA_GetContainer(&container))) return Respond(response, kName, kAdaptorFailure);
  // The name is reported whenever the agent succeeded; a name that cannot
  // be converted leaves the answer without "result".
  std::string text;
  size_t count = 0;
  const bool converted = UTF16ToUTF8(container.c_str(), &text, &count) == S_OK;
  (void)ConstructResponseJSON(response, kName, S_OK, kResultString, converted ? text.c_str() : nullptr);
  return 0;
}

int nmVEXA_ImportSignCert(JsonPtr* response, const cJSON* params, CCryptoAgent* agent) {
  constexpr char kName[] = "VEXA_ImportSignCert";
  if (!HasArguments(params, 3)) return Respond(response, kName, kAdaptorFailure);
  int32_t cert_type = 0;
  std::u16string certificate;
  std::u16string container;
  HRESULT code = ReadInt(params, 0, &cert_type);
  if (code == S_OK) code = ReadWide(params, 1, &certificate);
  if (code == S_OK) code = ReadWide(params, 2, &container);
  if (code != S_OK) return Respond(response, kName, code);
  VARIANT_BOOL done = VARIANT_FALSE;
  code = AgentResult(agent->VEXA_ImportSignCert(cert_type, certificate.c_str(), container.c_str(), &done));
  return RespondBool(response, kName, code, done);
}

int nmVEXA_PKCS10CertRequisition(JsonPtr* response, const cJSON* params, CCryptoAgent* agent) {
  return RequisitionAdaptor<&CCryptoAgent::VEXA_PKCS10CertRequisition>(response, "VEXA_PKCS10CertRequisition",
                                                                        params, agent);
}

int nmVEXA_PKCS10CertRequisitionwithMD5(JsonPtr* response, const cJSON* params, CCryptoAgent* agent) {
  return RequisitionAdaptor<&CCryptoAgent::VEXA_PKCS10CertRequisitionwithMD5>(
      response, "VEXA_PKCS10CertRequisitionwithMD5", params, agent);
}

int nmVEXA_HavePermissiontoGenerateKeyPair(JsonPtr* response, const cJSON* params, CCryptoAgent* agent) {
  constexpr char kName[] = "VEXA_HavePermissiontoGenerateKeyPair";
  if (!HasArguments(params, 0)) return Respond(response, kName, E_INVALIDARG);
  VARIANT_BOOL permitted = VARIANT_FALSE;
  const HRESULT code = AgentResult(agent->VEXA_HavePermissiontoGenerateKeyPair(&permitted));
  return RespondBool(response, kName, code, permitted);
}

int nmVEXA_GetVersion(JsonPtr* response, const cJSON* params, CCryptoAgent*) {
  constexpr char kName[] = "VEXA_GetVersion";
  if (!HasArguments(params, 0)) return Respond(response, kName, E_INVALIDARG);
  (void)ConstructResponseJSON(response, kName, S_OK, kResultString, kVersion);
  return 0;
}

int nmGetLastErrorDesc(JsonPtr* response, const cJSON* params, CCryptoAgent* agent) {
  constexpr char kName[] = "VEXA_GetLastErrorDesc";
  if (!HasArguments(params, 0)) return Respond(response, kName, E_INVALIDARG);
  std::u16string description;
  return RespondString(response, kName, AgentResult(agent->GetLastErrorDesc(&description)), description);
}

int nmCheckHost(JsonPtr* response, const cJSON*, CCryptoAgent*) {
  const int32_t zero = 0;
  (void)ConstructResponseJSON(response, "CheckHost", S_OK, kResultInt32, &zero);
  return 0;
}

int Invoke(JsonPtr* response, std::string_view function_name, const cJSON* params, CCryptoAgent* agent) {
  struct Entry {
    const char* name;
    Adaptor adaptor;
  };
  static constexpr Entry kTable[] = {
      {"VEXA_GetCSPInfo", nmVEXA_GetCSPInfo},
      {"VEXA_GetAllCertInfo", nmVEXA_GetAllCertInfo},
      {"VEXA_SetCSPInfo", nmVEXA_SetCSPInfo},
      {"VEXA_SetKeyAlgorithm", nmVEXA_SetKeyAlgorithm},
      {"VEXA_ImportEncryptCert", nmVEXA_ImportEncryptCert},
      {"VEXA_GetContainer", nmVEXA_GetContainer},
      {"VEXA_ImportSignCert", nmVEXA_ImportSignCert},
      {"VEXA_PKCS10CertRequisition", nmVEXA_PKCS10CertRequisition},
      {"VEXA_PKCS10CertRequisitionwithMD5", nmVEXA_PKCS10CertRequisitionwithMD5},
      {"VEXA_HavePermissiontoGenerateKeyPair", nmVEXA_HavePermissiontoGenerateKeyPair},
      {"VEXA_GetVersion", nmVEXA_GetVersion},
      {"GetLastErrorDesc", nmGetLastErrorDesc},
      {"checkHost", nmCheckHost},
  };
  for (const Entry& entry : kTable) {
    if (function_name.size() == std::char_traits<char>::length(entry.name) &&
        strncasecmp(function_name.data(), entry.name, function_name.size()) == 0) {
      TL_TRACE_INFO("dispatching %s", entry.name);
      return entry.adaptor(response, params, agent);
    }
  }
  TL_TRACE_INFO("no adaptor for the request");
  return -1;
}

}  // namespace tessaline
