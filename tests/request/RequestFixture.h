// Shared pieces of the request tests: recording providers put in place of
// the installed ones for one test, and the key containers of the current
// user scope.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/crypt/ContainerStore.h"
#include "platform/crypt/Crypt.h"
#include "platform/crypt/ProviderCatalog.h"
#include "tests/crypt_support/RecordingProvider.h"
#include "tests/support/TestScopes.h"

namespace tessaline::test {

// Every test starts with empty scopes and leaves the catalog as it found it.
class RequestTest : public ::testing::Test {
 protected:
  void SetUp() override { FreshScopes(); }
  void TearDown() override {
    for (const auto& provider : installed_) RecordingProvider::Uninstall(*provider);
  }

  // Puts a recording provider in place of the installed provider NAME.
  std::shared_ptr<RecordingProvider> Record(const char16_t* name) {
    const DWORD type = std::u16string_view(name) == MS_ENH_RSA_AES_PROV_W ? PROV_RSA_AES : PROV_RSA_FULL;
    const auto flavor = std::u16string_view(name) == TL_SM2_PROV_W ? crypt::Flavor::kVendor : crypt::Flavor::kRsa;
    auto provider = RecordingProvider::Install(name, type, flavor);
    installed_.push_back(provider);
    return provider;
  }

  static std::vector<crypt::ContainerSummary> Containers() {
    std::vector<crypt::ContainerSummary> all;
    EXPECT_EQ(crypt::ContainerStore::Summaries(std::nullopt, &all), 0u);
    return all;
  }

  static std::vector<DWORD> KeySpecsOf(const crypt::ContainerSummary& container) {
    std::vector<DWORD> specs;
    for (const auto& key : container.keys) specs.push_back(key.key_spec);
    return specs;
  }

 private:
  std::vector<std::shared_ptr<RecordingProvider>> installed_;
};

// Owns a provider handle.
struct ProvOwner {
  HCRYPTPROV h = 0;
  ~ProvOwner() {
    if (h != 0) (void)CryptReleaseContext(h, 0);
  }
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with upper-case hex digits.
inline bool IsGuidName(const std::string& name) {
  if (name.size() != 38 || name.front() != '{' || name.back() != '}') return false;
  for (size_t i = 1; i < 37; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    const char c = name[i];
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

inline std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

}  // namespace tessaline::test
