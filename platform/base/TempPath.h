// The directory for temporary files.
#pragma once

#include "platform/base/Types.h"

// Writes the temporary directory ($TMPDIR when it is an absolute path in
// valid UTF-8, else /tmp), always ending with '/', into BUFFER of CAPACITY
// characters. Returns the length without the terminator; when BUFFER is too
// small, returns the capacity needed (terminator included) and writes
// nothing. 0 with the last error set on failure.
DWORD GetTempPathW(DWORD capacity, LPWSTR buffer);
