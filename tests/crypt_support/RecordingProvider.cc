#include "tests/crypt_support/RecordingProvider.h"

#include <algorithm>
#include <cstring>

#include "platform/base/Result.h"
#include "platform/crypt/Crypt.h"
#include "platform/crypt/KeyBlobs.h"
#include "platform/crypt/ProviderCatalog.h"

namespace tessaline::test {

using crypt::Call;

RecordingProvider::RecordingProvider(std::u16string name, DWORD type, crypt::Flavor flavor)
    : SoftwareProvider(std::move(name), type, flavor) {}

std::shared_ptr<RecordingProvider> RecordingProvider::Install(std::u16string name, DWORD type,
                                                              crypt::Flavor flavor) {
  auto provider = std::make_shared<RecordingProvider>(std::move(name), type, flavor);
  crypt::ProviderCatalog::RegisterForTesting(provider);
  return provider;
}

void RecordingProvider::Uninstall(const RecordingProvider& provider) {
  crypt::ProviderCatalog::RestoreForTesting(provider.name());
}

std::vector<RecordingProvider::Entry> RecordingProvider::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<RecordingProvider::Entry> RecordingProvider::CallsOf(Call call) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Entry> result;
  for (const auto& entry : calls_) {
    if (entry.call == call) result.push_back(entry);
  }
  return result;
}

void RecordingProvider::ClearCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
  counts_.clear();
}

void RecordingProvider::FailCall(Call call, int occurrence, DWORD error) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.push_back({call, occurrence, error});
}

void RecordingProvider::RefuseAlgorithm(ALG_ID algorithm) {
  std::lock_guard<std::mutex> lock(mutex_);
  refused_.push_back(algorithm);
}

void RecordingProvider::AcceptSm2Order(Sm2Order order) {
  std::lock_guard<std::mutex> lock(mutex_);
  sm2_order_ = order;
}

DWORD RecordingProvider::BeforeCall(const crypt::CallRecord& call) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back({call.call, call.value, call.flags, call.size_query, call.has_container, call.container,
                    call.provider_type, std::vector<uint8_t>(call.data.begin(), call.data.end())});
  const int occurrence = ++counts_[call.call];
  for (const auto& failure : failures_) {
    if (failure.call == call.call && (failure.occurrence == 0 || failure.occurrence == occurrence)) {
      return failure.error;
    }
  }
  if ((call.call == Call::kGenKey || call.call == Call::kCreateHash) &&
      std::find(refused_.begin(), refused_.end(), call.value) != refused_.end()) {
    return ResultBits(NTE_BAD_ALGID);
  }
  return ERROR_SUCCESS;
}

DWORD RecordingProvider::ImportKey(crypt::Context& context, std::span<const uint8_t> blob, crypt::Key* import_key,
                                   DWORD flags, std::shared_ptr<crypt::Key>* out) {
  Sm2Order order;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    order = sm2_order_;
  }
  crypt::VendorBlob vendor;
  const ByteView view(blob);
  if (order == Sm2Order::kC1C3C2 || !crypt::IsVendorBlob(view) ||
      crypt::ParseVendorBlob(view, &vendor) != ERROR_SUCCESS || vendor.algorithm != CALG_SM2_KEYX ||
      vendor.payload.size() <= 96) {
    return SoftwareProvider::ImportKey(context, blob, import_key, flags, out);
  }
  // Read the ciphertext as C1 || C2 || C3 and hand it on as C1 || C3 || C2.
  const uint8_t* in = vendor.payload.data();
  const size_t size = vendor.payload.size();
  std::vector<uint8_t> reordered(in, in + 64);
  reordered.insert(reordered.end(), in + size - 32, in + size);
  reordered.insert(reordered.end(), in + 64, in + size - 32);
  std::vector<uint8_t> forwarded(blob.begin(), blob.end());
  const uint8_t* address = reordered.data();
  std::memcpy(forwarded.data() + forwarded.size() - sizeof(address), &address, sizeof(address));
  return SoftwareProvider::ImportKey(context, forwarded, import_key, flags, out);
}

}  // namespace tessaline::test
