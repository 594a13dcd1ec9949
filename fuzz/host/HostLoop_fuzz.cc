// Arbitrary bytes as the host's standard input, through framing, JSON and
// dispatch. The rule: every complete frame before the end of input gets
// exactly one response, each response is one JSON object naming a function
// and an error code, and a request that is valid UTF-8 gets a response that
// is valid UTF-8. Nothing else is written, except the loop ending early for
// a length it will not allocate.
#include <cjson/cJSON.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "host/MessageLoop.h"
#include "platform/storage/Database.h"

namespace {

void Check(bool condition, const char* rule) {
  if (!condition) {
    std::fprintf(stderr, "rule broken: %s\n", rule);
    abort();
  }
}

uint32_t LengthAt(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool IsValidUtf8(const uint8_t* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    const uint8_t c = p[i];
    size_t extra;
    uint32_t code;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (n - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      code = code << 6 | (p[i + k] & 0x3F);
    }
    if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (extra == 3 && (code < 0x10000 || code > 0x10FFFF))) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

// The complete frames the loop must answer, in order: it stops at the end
// of input, a length of 0 or 0xFFFFFFFF, a cut frame, or a length larger
// than the whole input (which it refuses to allocate).
std::vector<std::pair<size_t, uint32_t>> ExpectedRequests(const uint8_t* data, size_t size, bool* refused) {
  std::vector<std::pair<size_t, uint32_t>> requests;
  size_t at = 0;
  *refused = false;
  while (size - at >= 4) {
    const uint32_t n = LengthAt(data + at);
    if (n == 0 || n == 0xFFFFFFFF) break;
    if (n > size) {
      *refused = true;
      break;
    }
    if (size - at - 4 < n) break;
    requests.emplace_back(at + 4, n);
    at += 4 + static_cast<size_t>(n);
  }
  return requests;
}

// Whatever the requests store goes to a private user and machine scope,
// removed at exit.
class PrivateScopes {
 public:
  PrivateScopes() : root_(std::filesystem::temp_directory_path().string() + "/tessaline-fuzz-XXXXXX") {
    if (mkdtemp(root_.data()) == nullptr) abort();
    setenv("XDG_DATA_HOME", (root_ + "/user").c_str(), 1);
    setenv("TESSALINE_MACHINE_DIR", (root_ + "/machine").c_str(), 1);
  }
  ~PrivateScopes() {
    tessaline::storage::Database::CloseAll();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

 private:
  std::string root_;
};

void PointScopesAtTemporaryDirectory() { static PrivateScopes scopes; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PointScopesAtTemporaryDirectory();
  const int in = memfd_create("fuzz-in", 0);
  const int out = memfd_create("fuzz-out", 0);
  Check(in >= 0 && out >= 0, "memory files available");
  if (size > 0) Check(write(in, data, size) == static_cast<ssize_t>(size), "input written");
  lseek(in, 0, SEEK_SET);

  tessaline::CCryptoAgent agent;
  const int result = tessaline::MsgHandleProc(in, out, &agent, size);

  std::string output(static_cast<size_t>(lseek(out, 0, SEEK_END)), '\0');
  Check(pread(out, output.data(), output.size(), 0) == static_cast<ssize_t>(output.size()), "output read");
  close(in);
  close(out);

  bool refused = false;
  const auto requests = ExpectedRequests(data, size, &refused);
  if (refused) Check(result == -1, "a length beyond the input is refused with -1");

  const auto* bytes = reinterpret_cast<const uint8_t*>(output.data());
  size_t at = 0;
  for (const auto& [offset, length] : requests) {
    Check(output.size() - at >= 4, "one response per complete request");
    const uint32_t n = LengthAt(bytes + at);
    Check(n <= output.size() - at - 4, "response frame complete");
    const std::string body = output.substr(at + 4, n);
    cJSON* json = cJSON_ParseWithOpts(body.c_str(), nullptr, true);
    Check(body.size() == std::char_traits<char>::length(body.c_str()), "no NUL inside a response");
    Check(cJSON_IsObject(json), "response is one JSON object");
    Check(cJSON_IsString(cJSON_GetObjectItemCaseSensitive(json, "function")), "response names a function");
    Check(cJSON_IsNumber(cJSON_GetObjectItemCaseSensitive(json, "errorcode")), "response has an error code");
    cJSON_Delete(json);
    if (IsValidUtf8(data + offset, length)) {
      Check(IsValidUtf8(bytes + at + 4, n), "valid UTF-8 in, valid UTF-8 out");
    }
    at += 4 + static_cast<size_t>(n);
  }
  Check(at == output.size(), "nothing written beyond the responses");
  return 0;
}
