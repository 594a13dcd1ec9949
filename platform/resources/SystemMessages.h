// The system's message texts for the Windows codes this platform produces
// or passes on (FormatMessageW's role). Our own short texts, English and
// Chinese, each ending in CR LF as system texts do.
#pragma once

#include <cstdarg>
#include <optional>
#include <string_view>

#include "platform/base/Types.h"
#include "platform/resources/Resources.h"

inline constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
inline constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
inline constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;

inline constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;

// Writes the system text of MESSAGE_ID into BUFFER (SIZE characters with the
// NUL) and returns its length. Only FORMAT_MESSAGE_FROM_SYSTEM is served;
// the texts hold no insert markers, so ARGUMENTS is never read. LANGUAGE 0
// (or the user/system default 0x400/0x800) picks the user interface
// language; 1033 and 2052 pick a table; others fail with
// ERROR_RESOURCE_LANG_NOT_FOUND. A code without a text fails with
// ERROR_MR_MID_NOT_FOUND, a text longer than SIZE - 1 with
// ERROR_INSUFFICIENT_BUFFER; on failure BUFFER holds the empty text.
// A Windows error number and its 0x8007xxxx result code share one text.
DWORD FormatMessageW(DWORD flags, const void* source, DWORD message_id, DWORD language, LPWSTR buffer, DWORD size,
                     va_list* arguments);

namespace tessaline {

// The system text of CODE in LANGUAGE (1033 or 2052), CR LF included.
std::optional<std::u16string_view> SystemMessageText(DWORD code, LANGID language);

}  // namespace tessaline
