// Key containers in the user database: one row per container (provider and
// name, in creation order) and one per key specification present (the
// algorithm, bit length, exportable flag, PKCS#8 private key and the
// attached certificate). Names are stored as data, never used as paths.
// Every change is one transaction.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/base/CryptTypes.h"
#include "platform/base/Types.h"

namespace tessaline::crypt {

struct StoredKey {
  DWORD key_spec = 0;
  ALG_ID algorithm = 0;
  DWORD bits = 0;
  bool exportable = false;
  std::vector<uint8_t> private_key;  // PKCS#8 DER
  std::vector<uint8_t> certificate;  // DER, empty when none is attached
};

struct KeySummary {
  DWORD key_spec = 0;
  ALG_ID algorithm = 0;
  DWORD bits = 0;
  bool exportable = false;
  bool has_certificate = false;
};

struct ContainerSummary {
  std::string provider;
  std::string name;
  std::vector<KeySummary> keys;
};

// Provider and container names are UTF-8. Errors are NTE_* codes (as
// DWORD) or Windows error numbers from the database.
class ContainerStore {
 public:
  static DWORD Create(const std::string& provider, const std::string& name);  // NTE_EXISTS
  static DWORD Delete(const std::string& provider, const std::string& name);  // NTE_BAD_KEYSET
  static DWORD Exists(const std::string& provider, const std::string& name, bool* exists);
  // The names of PROVIDER's containers in creation order.
  static DWORD List(const std::string& provider, std::vector<std::string>* names);
  // Adds or replaces the key of key.key_spec (the certificate too).
  static DWORD PutKey(const std::string& provider, const std::string& name, const StoredKey& key);
  static DWORD GetKey(const std::string& provider, const std::string& name, DWORD key_spec, StoredKey* key);
  static DWORD SetCertificate(const std::string& provider, const std::string& name, DWORD key_spec,
                              const std::vector<uint8_t>& certificate);
  // Every container (of PROVIDER only, when given), in creation order.
  static DWORD Summaries(const std::optional<std::string>& provider, std::vector<ContainerSummary>* out);
};

}  // namespace tessaline::crypt
