#include "Tessaline/ErrorDescription.h"

#include <algorithm>
#include <cstdio>

#include "platform/resources/SystemMessages.h"

namespace tessaline {

HINSTANCE g_hInstance = nullptr;

std::u16string ComposeDescription(std::u16string_view text, HRESULT code) {
  char suffix[kDescriptionSuffixChars + 1];
  std::snprintf(suffix, sizeof suffix, "\n(0x%08x)", ResultBits(code));

  // Cut an over-long text so that the code still shows, without splitting a
  // surrogate pair.
  size_t kept = std::min(text.size(), kDescriptionMaxChars - kDescriptionSuffixChars);
  if (kept < text.size() && kept > 0 && text[kept - 1] >= 0xD800 && text[kept - 1] <= 0xDBFF) --kept;

  std::u16string description(text.substr(0, kept));
  description.append(suffix, suffix + kDescriptionSuffixChars);
  return description;
}

std::u16string DescribeResultCode(HRESULT code) {
  WCHAR buffer[kDescriptionMaxChars + 1] = {};
  DWORD length = 0;
  if (IsApplicationCode(code)) {
    // Room for 510 characters, as the tables are read into a 511-character
    // slot of the description buffer.
    const int loaded = LoadStringW(g_hInstance, ResultBits(code) & 0xFFFFu, buffer, kDescriptionMaxChars);
    length = loaded > 0 ? static_cast<DWORD>(loaded) : 0;
  } else {
    length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ResultBits(code), 0,
                            buffer, kDescriptionMaxChars + 1, nullptr);
  }
  return ComposeDescription(std::u16string_view(buffer, length), code);
}

}  // namespace tessaline
