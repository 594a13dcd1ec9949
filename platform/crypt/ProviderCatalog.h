// The providers installed on this system, in their enumeration order: the
// four RSA software providers and the vendor SM2 provider. Tests add
// providers through the seam below; the same seam is where externally
// supplied provider modules plug in.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "platform/crypt/Provider.h"

namespace tessaline::crypt {

class ProviderCatalog {
 public:
  static std::vector<std::shared_ptr<Provider>> Providers();
  // Case-insensitive, as provider names are.
  static std::shared_ptr<Provider> Find(std::u16string_view name);

  // Test seam. A provider named like an installed one takes its place in
  // the enumeration order; any other is appended.
  static void RegisterForTesting(std::shared_ptr<Provider> provider);
  // Removes the provider of that name, installed or registered.
  static void RemoveForTesting(std::u16string_view name);
  // Puts the installed provider of that name back in place of whatever
  // carries the name now, or removes the entry when none is installed.
  static void RestoreForTesting(std::u16string_view name);
  // Back to the installed providers.
  static void ResetForTesting();
};

}  // namespace tessaline::crypt
