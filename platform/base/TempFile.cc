#include "platform/base/TempFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "platform/base/Errors.h"
#include "platform/base/Utf.h"

namespace {

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
    case ELOOP:
      return ERROR_FILE_EXISTS;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG:
      return ERROR_INVALID_NAME;
    default:
      return ERROR_WRITE_FAULT;
  }
}

BOOL FailWithErrno(int error) { return FailWith(ErrorFromErrno(error)); }

}  // namespace

BOOL DeleteFileW(LPCWSTR path) {
  if (path == nullptr || path[0] == u'\0') return FailWith(ERROR_INVALID_PARAMETER);
  try {
    if (unlink(Utf16ToUtf8(path).c_str()) != 0) return FailWithErrno(errno);
  } catch (const std::bad_alloc&) {
    return FailWith(ERROR_NOT_ENOUGH_MEMORY);
  }
  return TRUE;
}

BOOL WriteNewFileW(LPCWSTR path, const BYTE* data, DWORD size) {
  if (path == nullptr || path[0] == u'\0' || (data == nullptr && size != 0)) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  std::string name;
  try {
    name = Utf16ToUtf8(path);
  } catch (const std::bad_alloc&) {
    return FailWith(ERROR_NOT_ENOUGH_MEMORY);
  }
  const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return FailWithErrno(errno);
  DWORD written = 0;
  int error = 0;
  while (written < size) {
    const ssize_t n = write(fd, data + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    written += static_cast<DWORD>(n);
  }
  if (close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    unlink(name.c_str());
    return FailWithErrno(error);
  }
  return TRUE;
}
