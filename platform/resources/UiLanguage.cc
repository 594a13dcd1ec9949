#include <cstdlib>
#include <cstring>

#include "platform/resources/Resources.h"

LANGID GetUserDefaultUILanguage() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') continue;
    return std::strncmp(value, "zh", 2) == 0 ? LANG_CHINESE_SIMPLIFIED : LANG_ENGLISH_US;
  }
  return LANG_ENGLISH_US;
}

LANGID GetThreadUILanguage() { return GetUserDefaultUILanguage(); }
