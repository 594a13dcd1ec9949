// The host's JSON protocol: parsing a request, reading its arguments,
// building the response object and turning it into the response text.
//
// Request:  {"function": NAME, "params": [ARG...], "randomId": ID}
// Response: {"function": NAME, "errorcode": CODE, "result": VALUE, "randomId": ID}
// Member names are matched without regard to case.
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/base/Result.h"

namespace tessaline {

struct JsonDeleter {
  void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

// The Win32 number of an invalid parameter, returned unconverted by the
// request parser and the argument readers.
inline constexpr HRESULT kInvalidParameter = MakeResult(87);

// The code of every answer that has no response object.
inline constexpr HRESULT kNoResponseCode = NTE_INTERNAL_ERROR;

// Kinds of "result" value for ConstructResponseJSON. 0, 1, 3 and 4 are the
// JSON library's own numbers for false, true, number and string.
enum ResultType : int {
  kResultFalse = 0,   // value: bytes, true when the first is non-zero
  kResultTrue = 1,    // the same
  kResultNumber = 3,  // value: double
  kResultString = 4,  // value: NUL-terminated UTF-8 text
  kResultInt32 = 7,   // value: int32_t
};

// Parses REQUEST (NUL-terminated). 0 on success, 87 for a missing or empty
// text, -1 when it is not JSON, "function" is not a string, "params" is
// missing or "randomId" is present but not a string. Out values (each may
// be null) are written only on success; RANDOM_ID is empty when absent.
[[nodiscard]] HRESULT ParseRequestMsgToJSON(std::string* function_name, JsonPtr* params, const char* request,
                                            std::string* random_id);

// Reads argument INDEX of PARAMS (a bare value or an object's "param"
// member) as a string. 0, 87 (no params, index out of range), 0xA0073204
// (not a string) or -1 (no memory).
[[nodiscard]] HRESULT ConverJSONArrayItemtoNULLEndString(const cJSON* params, int index, std::string* text);

// The same for an integer: a JSON number's integer part, truncated toward
// zero and clamped to the signed 32-bit range.
[[nodiscard]] HRESULT ConverJSONArrayItemtoint(const cJSON* params, int index, int32_t* value);

// Builds {"function": RESPONSE_NAME, "errorcode": RESULT_CODE[, "result": ...]}:
// "result" is false for a failure, absent for success without VALUE, else
// VALUE read as nResultType says. 0, 87 (empty name), 0xA0073202 (no
// memory) or -1 (unknown nResultType).
[[nodiscard]] HRESULT ConstructResponseJSON(JsonPtr* response, std::string_view response_name,
                                            HRESULT result_code, int nResultType, const void* value);

// The response text: RESPONSE (with "randomId" appended when RANDOM_ID is
// not empty) in compact form, or the fixed error text naming FUNCTION_NAME
// when there is no response object. Always succeeds.
[[nodiscard]] HRESULT ConvertJSONToResponseMsg(std::string_view function_name, std::string_view random_id,
                                               cJSON* response, std::string* text);

// The fixed error text, with FUNCTION_NAME and RANDOM_ID escaped as JSON
// strings so that the answer stays valid JSON whatever the request held.
std::string FormatFixedErrorText(std::string_view function_name, std::string_view random_id);

}  // namespace tessaline
