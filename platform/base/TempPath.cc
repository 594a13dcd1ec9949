#include "platform/base/TempPath.h"

#include <cstdlib>
#include <string>

#include "platform/base/Errors.h"
#include "platform/base/Utf.h"

namespace {

std::u16string TempDirectory() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = "/tmp";
  if (env != nullptr && env[0] == '/') {
    // A name the converter would have to alter could not be opened again.
    const std::u16string wide = Utf8ToUtf16(env);
    if (Utf16ToUtf8(wide) == env) dir = env;
  }
  if (dir.back() != '/') dir.push_back('/');
  return Utf8ToUtf16(dir);
}

}  // namespace

DWORD GetTempPathW(DWORD capacity, LPWSTR buffer) {
  std::u16string dir;
  try {
    dir = TempDirectory();
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  const size_t needed = dir.size() + 1;
  if (buffer == nullptr || capacity < needed) return static_cast<DWORD>(needed);
  dir.copy(buffer, dir.size());
  buffer[dir.size()] = u'\0';
  return static_cast<DWORD>(dir.size());
}
