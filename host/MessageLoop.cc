#include "host/MessageLoop.h"

#include <new>

#include "host/IOStream.h"
#include "host/JSONUtility.h"
#include "host/nmCryptoAgent.h"
#include "host/HostTrace.h"

namespace tessaline {

int MsgHandleProc(int in_fd, int out_fd, CCryptoAgent* agent, uint64_t max_body) {
  TL_TRACE_SCOPE("MsgHandleProc");
  std::string response;
  for (;;) {
    MessageBuffer request;
    uint32_t length = 0;
    const int read = ReadFromNativeMessaging(&request, in_fd, &length, max_body);
    if (read != 0) {
      TL_HOST_TRACE_FAILED(read, "MsgHandleProc", "ReadFromNativeMessaging", "nRet != 0");
      return read;
    }
    if (length == 0) {
      TL_TRACE_INFO("input ended");
      return 0;
    }
    ParseAndRespondRequest(request.get(), &response, agent);
    request.reset();
    if (WriteToNativeMessaging(response, out_fd) != 0) {
      TL_HOST_TRACE_FAILED(-1, "MsgHandleProc", "WriteToNativeMessaging", "nRet != 0");
      return -1;
    }
  }
}

int ParseAndRespondRequest(const char* request, std::string* response, CCryptoAgent* agent) {
  TL_TRACE_SCOPE("ParseAndRespondRequest");
  std::string function_name;
  std::string random_id;
  try {
    JsonPtr params;
    JsonPtr answer;
    const HRESULT parsed = ParseRequestMsgToJSON(&function_name, &params, request, &random_id);
    if (parsed == S_OK) {
      TL_HOST_TRACE_STEP(S_OK, "ParseAndRespondRequest", "ParseRequestMsgToJSON");
      const int invoked = Invoke(&answer, function_name, params.get(), agent);
      if (invoked != 0) TL_HOST_TRACE_FAILED(invoked, "ParseAndRespondRequest", "Invoke", "nRet != 0");
    } else {
      TL_HOST_TRACE_FAILED(parsed, "ParseAndRespondRequest", "ParseRequestMsgToJSON", "hResult != 0");
    }
    (void)ConvertJSONToResponseMsg(function_name, random_id, answer.get(), response);
  } catch (const std::bad_alloc&) {
    // Out of memory while answering: the fixed error text still goes out.
    response->clear();
    *response = FormatFixedErrorText("", "");
  }
  return 0;
}

}  // namespace tessaline
