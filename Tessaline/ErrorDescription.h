// The module whose message tables describe the agent's own codes, and the
// pieces of a code's description.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "Tessaline/ErrorCodes.h"
#include "platform/resources/Resources.h"

namespace tessaline {

// Set by the host program at start and by the plug-in when its library is
// loaded. Null reads the tables compiled into this program, which every
// deliverable carries, so the descriptions work before it is set.
extern HINSTANCE g_hInstance;

// A description fits a buffer of 512 characters with its NUL.
inline constexpr size_t kDescriptionMaxChars = 511;
inline constexpr size_t kDescriptionSuffixChars = 13;  // "\n(0x" + 8 hex digits + ")"

// TEXT, cut so that the whole fits kDescriptionMaxChars, then "\n(0x%08x)"
// with CODE in lower-case hexadecimal.
std::u16string ComposeDescription(std::u16string_view text, HRESULT code);

}  // namespace tessaline
