#include "host/JSONUtility.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "Tessaline/ErrorCodes.h"
#include "Tessaline/Trace.h"

namespace tessaline {
namespace {

constexpr HRESULT kFailed = MakeResult(0xFFFFFFFF);  // -1

// The argument at INDEX: the element itself, or its "param" member when it
// is an object. Null when the object has no "param".
HRESULT ArgumentAt(const cJSON* params, int index, const cJSON** argument) {
  if (params == nullptr || index < 0) return kInvalidParameter;
  const int count = cJSON_GetArraySize(params);
  if (count <= 0 || index >= count) return kInvalidParameter;
  const cJSON* item = cJSON_GetArrayItem(params, index);
  if (item == nullptr) return kInvalidParameter;
  // An object without "param" has nothing we could read: a type mismatch.
  if (cJSON_IsObject(item)) item = cJSON_GetObjectItem(item, "param");
  *argument = item;
  return S_OK;
}

// A 32-bit integer as JSON number text. The JSON library would print it
// through "%1.15g" and read it back to check the precision; the decimal
// digits are what it would print, at a fraction of the cost.
cJSON* CreateInteger(int32_t value) {
  char digits[16];
  std::snprintf(digits, sizeof(digits), "%d", value);
  return cJSON_CreateRaw(digits);
}

bool Add(cJSON* object, const char* name, cJSON* item) {
  if (item == nullptr) return false;
  if (!cJSON_AddItemToObject(object, name, item)) {
    cJSON_Delete(item);
    return false;
  }
  return true;
}

void AppendEscaped(std::string* out, std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out->append("\\\""); break;
      case '\\': out->append("\\\\"); break;
      case '\b': out->append("\\b"); break;
      case '\f': out->append("\\f"); break;
      case '\n': out->append("\\n"); break;
      case '\r': out->append("\\r"); break;
      case '\t': out->append("\\t"); break;
      default:
        if (byte < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof(escape), "\\u%04x", byte);
          out->append(escape);
        } else {
          out->push_back(c);
        }
    }
  }
}

}  // namespace

HRESULT ParseRequestMsgToJSON(std::string* function_name, JsonPtr* params, const char* request,
                              std::string* random_id) {
  TL_TRACE_SCOPE("ParseRequestMsgToJSON");
  if (request == nullptr || request[0] == '\0') return kInvalidParameter;
  JsonPtr root(cJSON_Parse(request));
  if (root == nullptr) {
    TL_TRACE_ERROR("request is not JSON");
    return kFailed;
  }
  const cJSON* function = cJSON_GetObjectItem(root.get(), "function");
  if (!cJSON_IsString(function) || function->valuestring == nullptr) return kFailed;
  const cJSON* params_item = cJSON_GetObjectItem(root.get(), "params");
  if (params_item == nullptr) return kFailed;
  const cJSON* random = cJSON_GetObjectItem(root.get(), "randomId");
  if (random != nullptr && (!cJSON_IsString(random) || random->valuestring == nullptr)) return kFailed;

  JsonPtr params_copy(cJSON_Duplicate(params_item, true));
  if (params_copy == nullptr) return kFailed;
  TL_TRACE_INFO("request for %s", function->valuestring);
  if (random_id != nullptr) random_id->assign(random != nullptr ? random->valuestring : "");
  if (function_name != nullptr) function_name->assign(function->valuestring);
  if (params != nullptr) *params = std::move(params_copy);
  return S_OK;
}

HRESULT ConverJSONArrayItemtoNULLEndString(const cJSON* params, int index, std::string* text) {
  const cJSON* argument = nullptr;
  if (ArgumentAt(params, index, &argument) != S_OK) return kInvalidParameter;
  if (!cJSON_IsString(argument) || argument->valuestring == nullptr) return TL_E_JSON_TYPE;
  try {
    text->assign(argument->valuestring);
  } catch (const std::bad_alloc&) {
    return kFailed;
  }
  return S_OK;
}

HRESULT ConverJSONArrayItemtoint(const cJSON* params, int index, int32_t* value) {
  const cJSON* argument = nullptr;
  if (ArgumentAt(params, index, &argument) != S_OK) return kInvalidParameter;
  if (!cJSON_IsNumber(argument)) return TL_E_JSON_TYPE;
  const double number = argument->valuedouble;
  if (number >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    *value = std::numeric_limits<int32_t>::max();
  } else if (number <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
    *value = std::numeric_limits<int32_t>::min();
  } else {
    *value = static_cast<int32_t>(number);  // truncates toward zero
  }
  return S_OK;
}

HRESULT ConstructResponseJSON(JsonPtr* response, std::string_view response_name, HRESULT result_code,
                              int nResultType, const void* value) {
  if (response_name.empty()) return kInvalidParameter;
  JsonPtr object(cJSON_CreateObject());
  if (object == nullptr) return TL_E_JSON_PARSE;
  const std::string name(response_name);
  if (!Add(object.get(), "function", cJSON_CreateString(name.c_str())) ||
      !Add(object.get(), "errorcode", CreateInteger(static_cast<int32_t>(result_code)))) {
    return TL_E_JSON_PARSE;
  }
  if (result_code != S_OK) {
    if (!Add(object.get(), "result", cJSON_CreateFalse())) return TL_E_JSON_PARSE;
  } else if (value != nullptr) {
    cJSON* result = nullptr;
    switch (nResultType) {
      case kResultFalse:
      case kResultTrue:
        result = cJSON_CreateBool(*static_cast<const uint8_t*>(value) != 0);
        break;
      case kResultNumber:
        result = cJSON_CreateNumber(*static_cast<const double*>(value));
        break;
      case kResultString:
        result = cJSON_CreateString(static_cast<const char*>(value));
        break;
      case kResultInt32:
        result = CreateInteger(*static_cast<const int32_t*>(value));
        break;
      default:
        return kFailed;
    }
    if (!Add(object.get(), "result", result)) return TL_E_JSON_PARSE;
  }
  *response = std::move(object);
  return S_OK;
}

std::string FormatFixedErrorText(std::string_view function_name, std::string_view random_id) {
  std::string text = "{\"function\":\"";
  AppendEscaped(&text, function_name);
  text += "\", \"errorcode\":";
  text += std::to_string(static_cast<int32_t>(kNoResponseCode));
  text += ", \"result\":false";
  if (!random_id.empty()) {
    text += ", \"randomId\":\"";
    AppendEscaped(&text, random_id);
    text += "\"";
  }
  text += "}";
  return text;
}

HRESULT ConvertJSONToResponseMsg(std::string_view function_name, std::string_view random_id, cJSON* response,
                                 std::string* text) {
  if (response != nullptr) {
    bool complete = true;
    if (!random_id.empty()) {
      const std::string id(random_id);
      complete = Add(response, "randomId", cJSON_CreateString(id.c_str()));
    }
    if (complete) {
      std::unique_ptr<char, decltype(&cJSON_free)> printed(cJSON_PrintUnformatted(response), &cJSON_free);
      if (printed != nullptr) {
        text->assign(printed.get());
        return S_OK;
      }
    }
    TL_TRACE_ERROR("no memory to serialize the response");
  }
  *text = FormatFixedErrorText(function_name, random_id);
  return S_OK;
}

}  // namespace tessaline
