#include "platform/crypt/ProviderCatalog.h"

#include <algorithm>
#include <mutex>

#include "platform/crypt/Crypt.h"
#include "platform/crypt/SoftwareProvider.h"

namespace tessaline::crypt {
namespace {

std::vector<std::shared_ptr<Provider>> Installed() {
  return {
      std::make_shared<SoftwareProvider>(MS_DEF_PROV_W, PROV_RSA_FULL, Flavor::kRsa),
      std::make_shared<SoftwareProvider>(MS_ENHANCED_PROV_W, PROV_RSA_FULL, Flavor::kRsa),
      std::make_shared<SoftwareProvider>(MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, Flavor::kRsa),
      std::make_shared<SoftwareProvider>(MS_STRONG_PROV_W, PROV_RSA_FULL, Flavor::kRsa),
      std::make_shared<SoftwareProvider>(TL_SM2_PROV_W, PROV_RSA_FULL, Flavor::kVendor),
  };
}

struct State {
  std::mutex mutex;
  std::vector<std::shared_ptr<Provider>> providers = Installed();
};

State& Catalog() {
  static State state;
  return state;
}

char16_t Fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           return Fold(x) == Fold(y);
         });
}

}  // namespace

std::vector<std::shared_ptr<Provider>> ProviderCatalog::Providers() {
  State& state = Catalog();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.providers;
}

std::shared_ptr<Provider> ProviderCatalog::Find(std::u16string_view name) {
  State& state = Catalog();
  std::lock_guard<std::mutex> lock(state.mutex);
  for (const auto& provider : state.providers) {
    if (SameName(provider->name(), name)) return provider;
  }
  return nullptr;
}

void ProviderCatalog::RegisterForTesting(std::shared_ptr<Provider> provider) {
  State& state = Catalog();
  std::lock_guard<std::mutex> lock(state.mutex);
  for (auto& entry : state.providers) {
    if (SameName(entry->name(), provider->name())) {
      entry = std::move(provider);
      return;
    }
  }
  state.providers.push_back(std::move(provider));
}

void ProviderCatalog::RemoveForTesting(std::u16string_view name) {
  State& state = Catalog();
  std::lock_guard<std::mutex> lock(state.mutex);
  std::erase_if(state.providers, [&](const auto& entry) { return SameName(entry->name(), name); });
}

void ProviderCatalog::RestoreForTesting(std::u16string_view name) {
  std::shared_ptr<Provider> installed;
  for (auto& provider : Installed()) {
    if (SameName(provider->name(), name)) installed = provider;
  }
  State& state = Catalog();
  std::lock_guard<std::mutex> lock(state.mutex);
  for (auto it = state.providers.begin(); it != state.providers.end(); ++it) {
    if (!SameName((*it)->name(), name)) continue;
    if (installed) {
      *it = installed;
    } else {
      state.providers.erase(it);
    }
    return;
  }
  if (installed) state.providers.push_back(installed);
}

void ProviderCatalog::ResetForTesting() {
  State& state = Catalog();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.providers = Installed();
}

}  // namespace tessaline::crypt
