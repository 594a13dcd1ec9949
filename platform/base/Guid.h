// GUIDs: random (version 4) identifiers and their registry text form.
#pragma once

#include "platform/base/Result.h"
#include "platform/base/Types.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};

// Fills *GUID with a new random version-4 GUID. E_INVALIDARG for a null
// pointer, E_FAIL when the random generator fails.
HRESULT CoCreateGuid(GUID* guid);

// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper-case, NUL-terminated)
// into BUFFER of CAPACITY characters. Returns the character count including
// the terminator, or 0 with the last error ERROR_INSUFFICIENT_BUFFER when
// the text does not fit.
int StringFromGUID2(const GUID& guid, LPWSTR buffer, int capacity);
