// A software provider that records every call that reaches it and fails
// the calls a test scripts. Install() puts it into the provider catalog
// (taking the place of an installed provider of the same name); the
// returned object stays valid while the test holds it.
//
//   auto provider = RecordingProvider::Install(u"Test SM2 CSP", PROV_RSA_FULL, Flavor::kVendor);
//   provider->FailCall(Call::kGetProvParam, 2, ERROR_INVALID_PARAMETER);
//   ... code under test ...
//   EXPECT_EQ(provider->CallsOf(Call::kGenKey)[0].flags, 0x01000000u);
//   RecordingProvider::Uninstall(*provider);
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/crypt/SoftwareProvider.h"

namespace tessaline::test {

class RecordingProvider : public crypt::SoftwareProvider {
 public:
  struct Entry {
    crypt::Call call;
    DWORD value;  // algorithm, key specification, blob type or parameter id
    DWORD flags;
    bool size_query;
    bool has_container;
    std::u16string container;
    DWORD provider_type;
    std::vector<uint8_t> data;
  };

  // Which SM2 ciphertext order the vendor import accepts.
  enum class Sm2Order { kC1C3C2, kC1C2C3 };

  RecordingProvider(std::u16string name, DWORD type, crypt::Flavor flavor);

  static std::shared_ptr<RecordingProvider> Install(std::u16string name, DWORD type, crypt::Flavor flavor);
  // Restores the catalog entry of an installed provider of that name, or
  // removes the test provider.
  static void Uninstall(const RecordingProvider& provider);

  std::vector<Entry> Calls() const;
  std::vector<Entry> CallsOf(crypt::Call call) const;
  void ClearCalls();

  // Fails the OCCURRENCE-th call (1-based) of CALL, or every one when 0,
  // with ERROR, before the call does anything.
  void FailCall(crypt::Call call, int occurrence, DWORD error);
  // Refuses key generation and hashes of ALGORITHM with NTE_BAD_ALGID.
  void RefuseAlgorithm(ALG_ID algorithm);
  void AcceptSm2Order(Sm2Order order);

  DWORD BeforeCall(const crypt::CallRecord& call) override;
  DWORD ImportKey(crypt::Context& context, std::span<const uint8_t> blob, crypt::Key* import_key, DWORD flags,
                  std::shared_ptr<crypt::Key>* out) override;

 private:
  struct Failure {
    crypt::Call call;
    int occurrence;
    DWORD error;
  };

  mutable std::mutex mutex_;
  std::vector<Entry> calls_;
  std::map<crypt::Call, int> counts_;
  std::vector<Failure> failures_;
  std::vector<ALG_ID> refused_;
  Sm2Order sm2_order_ = Sm2Order::kC1C3C2;
};

}  // namespace tessaline::test
