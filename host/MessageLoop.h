// The host's message loop: one request read, answered and written at a
// time, in order, until the input ends or the transport fails.
#pragma once

#include <cstdint>
#include <string>

#include "Tessaline/CryptoAgent.h"

namespace tessaline {

// Serves requests from IN_FD and writes one response per request to
// OUT_FD. Returns 0 when the input ended, otherwise the failure code of the
// read or write that ended the loop. MAX_BODY bounds the request size the
// loop accepts (a larger one fails like a buffer that cannot be obtained).
[[nodiscard]] int MsgHandleProc(int in_fd, int out_fd, CCryptoAgent* agent, uint64_t max_body = UINT64_MAX);

// Answers one NUL-terminated request text. Every request, even one that is
// not JSON, gets exactly one response text. Returns 0.
int ParseAndRespondRequest(const char* request, std::string* response, CCryptoAgent* agent);

}  // namespace tessaline
