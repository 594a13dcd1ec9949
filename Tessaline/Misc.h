// Conversions between the forms data takes inside the agent: UTF-16 text
// from page script, UTF-8 for JSON and DER strings, hexadecimal text for
// serial numbers and thumbprints, Base64 for certificates, requests and key
// envelopes, little-endian provider byte arrays, and temporary files.
//
// No function keeps state between calls. Out values are written only on
// success; reported text lengths exclude the terminator, and an out count
// may be null when the caller needs only the string or buffer (whose size is
// the same count). Null text or out pointers give E_POINTER unless a
// function says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/Result.h"

namespace tessaline {

// The separator of lists held in one string, e.g. the provider list.
inline constexpr char16_t kListSeparator[] = u"||";

// Appends the "||"-separated items of TEXT (null: nothing) to LIST. The
// first empty item ends the split.
void SplitStrings(const char16_t* text, std::vector<std::u16string>* list);

// COUNT bytes as lower-case hexadecimal text, the last byte written first.
HRESULT ConvertBinaryDataToString(std::u16string* out, size_t count, const uint8_t* bytes);

// Hexadecimal TEXT back to bytes, the last digit pair becoming byte 0; an odd
// trailing digit is ignored. *out holds exactly *count bytes. E_INVALIDARG
// for null or non-hex text.
HRESULT ConvertStringToBinaryData(size_t* count, const char16_t* text, std::vector<uint8_t>* out);

// Writes BYTES to "<temp dir><GUID>.VEXA" (a new file, owner-only, never
// written through a link) and hands back its path; the path stays empty when
// any step fails.
void DumpDatatoTempFile(std::u16string* path, const uint8_t* bytes, size_t count);

// A fresh random GUID in registry form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
HRESULT CreateGUIDStr(std::u16string* out);

// The temporary directory, always ending with '/'.
HRESULT GetTempDirPath(std::u16string* out);

// Reverses COUNT bytes in place.
void SwapByteOrder(uint8_t* bytes, size_t count);

// NUL-terminated UTF-16 TEXT as UTF-8; *count is the byte length. E_POINTER
// for null text.
HRESULT UTF16ToUTF8(const char16_t* text, std::string* out, size_t* count);

// NUL-terminated UTF-8 TEXT as UTF-16; *count is the length in UTF-16 units.
// E_POINTER for null text.
HRESULT UTF8ToUTF16(const char* text, std::u16string* out, size_t* count);

// Base64 of COUNT bytes, CR LF after every full line of 76 characters (so
// the text ends with CR LF when COUNT is a non-zero multiple of 57); *chars
// is the text length. E_FAIL when 4 x COUNT exceeds 2^31 - 1.
HRESULT Base64EncodeEx(size_t count, std::string* out, const uint8_t* bytes, size_t* chars);

// Decodes CHARS characters of Base64 TEXT, skipping anything outside the
// alphabet; stops early at a NUL that starts a group. *out holds exactly
// *count bytes, never more than CHARS. E_FAIL for CHARS <= 0.
HRESULT Base64DecodeEx(int64_t chars, std::vector<uint8_t>* out, const char* text, size_t* count);

}  // namespace tessaline
