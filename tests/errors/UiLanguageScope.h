// Sets the locale variables that pick the user interface language for one
// test and restores them afterwards.
#pragma once

#include <stdlib.h>

#include <array>
#include <optional>
#include <string>

namespace tessaline::test {

class UiLanguageScope {
 public:
  // Each argument is the variable's value, or nullptr to unset it.
  UiLanguageScope(const char* lc_all, const char* lc_messages, const char* lang) {
    const std::array<const char*, 3> values = {lc_all, lc_messages, lang};
    for (size_t i = 0; i < kNames.size(); ++i) {
      if (const char* old = getenv(kNames[i])) saved_[i] = old;
      if (values[i] == nullptr) {
        unsetenv(kNames[i]);
      } else {
        setenv(kNames[i], values[i], 1);
      }
    }
  }
  ~UiLanguageScope() {
    for (size_t i = 0; i < kNames.size(); ++i) {
      if (saved_[i]) {
        setenv(kNames[i], saved_[i]->c_str(), 1);
      } else {
        unsetenv(kNames[i]);
      }
    }
  }
  UiLanguageScope(const UiLanguageScope&) = delete;
  UiLanguageScope& operator=(const UiLanguageScope&) = delete;

  static UiLanguageScope English() { return UiLanguageScope(nullptr, nullptr, "en_US.UTF-8"); }
  static UiLanguageScope Chinese() { return UiLanguageScope(nullptr, nullptr, "zh_CN.UTF-8"); }

 private:
  static constexpr std::array<const char*, 3> kNames = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::array<std::optional<std::string>, 3> saved_;
};

}  // namespace tessaline::test
