#include "platform/base/Guid.h"

#include <openssl/rand.h>

#include <cstdio>

#include "platform/base/Errors.h"

namespace {

// The registry form: 36 hex digits and hyphens between braces, plus NUL.
constexpr int kGuidTextChars = 39;

}  // namespace

HRESULT CoCreateGuid(GUID* guid) {
  if (guid == nullptr) return E_INVALIDARG;
  BYTE random[16];
  if (RAND_bytes(random, sizeof random) != 1) return E_FAIL;
  GUID g{};
  g.Data1 = (DWORD{random[0]} << 24) | (DWORD{random[1]} << 16) | (DWORD{random[2]} << 8) | random[3];
  g.Data2 = static_cast<WORD>((random[4] << 8) | random[5]);
  // Version 4 in the top nibble of Data3, variant 10xx in Data4[0].
  g.Data3 = static_cast<WORD>((((random[6] << 8) | random[7]) & 0x0FFF) | 0x4000);
  for (int i = 0; i < 8; ++i) g.Data4[i] = random[8 + i];
  g.Data4[0] = static_cast<BYTE>((g.Data4[0] & 0x3F) | 0x80);
  *guid = g;
  return S_OK;
}

int StringFromGUID2(const GUID& guid, LPWSTR buffer, int capacity) {
  if (buffer == nullptr || capacity < kGuidTextChars) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  char text[kGuidTextChars + 1];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  for (int i = 0; i < kGuidTextChars; ++i) buffer[i] = static_cast<char16_t>(text[i]);
  return kGuidTextChars;
}
