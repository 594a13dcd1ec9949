// The two file operations behind the agent's temporary files.
#pragma once

#include "platform/base/Types.h"

// Removes the file (or link) at PATH, never what a link points to. FALSE
// with ERROR_FILE_NOT_FOUND when nothing is there.
BOOL DeleteFileW(LPCWSTR path);

// Creates a new file at PATH, readable and writable by its owner only, and
// writes SIZE bytes of DATA into it. Anything already at PATH, a symbolic
// link included, makes the call fail with ERROR_FILE_EXISTS: the creation
// never follows a link nor reuses a file. A failed write removes the file.
BOOL WriteNewFileW(LPCWSTR path, const BYTE* data, DWORD size);
