// The platform's character converter between UTF-16 and UTF-8.
//
// Invalid input is replaced, never rejected: an unpaired surrogate becomes
// U+FFFD in UTF-8, and each maximal invalid UTF-8 subsequence becomes one
// U+FFFD in UTF-16, as the platform converter does without flags.
#pragma once

#include <string>
#include <string_view>

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);
