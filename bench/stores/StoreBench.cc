// Listing the user's MY store the way the certificate list and the admin
// command do: open, enumerate, and for each certificate format the subject,
// the serial number, the validity in local time and read the provider.
// Also the cost of one addition (one transaction) to a large store.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/support/PrivateScopes.h"
#include "platform/cert/Cert.h"
#include "platform/storage/Database.h"
#include "tests/cert/CertFactory.h"

namespace {

constexpr int kStoreSize = 10000;
constexpr DWORD kNameType = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG | CERT_NAME_STR_NO_QUOTING_FLAG;

// A private user scope holding kStoreSize certificates with key-provider
// properties, made once per run.
class ScopeWithStore {
 public:
  ScopeWithStore() {
    tessaline::test::CertFactory factory;
    HCERTSTORE store = Open(0);
    CRYPT_KEY_PROV_INFO info{const_cast<LPWSTR>(u"container"), const_cast<LPWSTR>(u"Vendor CSP"), 1, 0, 0, nullptr,
                             AT_SIGNATURE};
    for (int i = 0; i < kStoreSize; ++i) {
      const auto der = factory.Make("Bench User " + std::to_string(i), 1000000 + i);
      PCCERT_CONTEXT added = nullptr;
      if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                            CERT_STORE_ADD_NEW, &added) ||
          !CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) {
        std::abort();
      }
      (void)CertFreeCertificateContext(added);
    }
    (void)CertCloseStore(store, 0);
    for (int i = 0; i < 1000; ++i) spare_.push_back(factory.Make("Spare " + std::to_string(i), 5000000 + i));
  }
  // The databases are closed before the scopes' folder goes.
  ~ScopeWithStore() { tessaline::storage::Database::CloseAll(); }

  static HCERTSTORE Open(DWORD flags) {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                         CERT_SYSTEM_STORE_CURRENT_USER | flags, u"MY");
  }
  std::vector<std::vector<uint8_t>> spare_;

 private:
  tessaline::bench::PrivateScopes scopes_;
};

ScopeWithStore& Scope() {
  static ScopeWithStore scope;
  return scope;
}

void ListMyStore(benchmark::State& state) {
  Scope();
  int64_t certificates = 0;
  std::u16string name(512, u'\0');
  std::vector<uint8_t> info(512);
  for (auto _ : state) {
    HCERTSTORE store = ScopeWithStore::Open(CERT_STORE_READONLY_FLAG);
    for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr); cert != nullptr;
         cert = CertEnumCertificatesInStore(store, cert)) {
      const DWORD size = CertNameToStrW(X509_ASN_ENCODING, &cert->pCertInfo->Subject, kNameType, nullptr, 0);
      name.resize(size);
      benchmark::DoNotOptimize(
          CertNameToStrW(X509_ASN_ENCODING, &cert->pCertInfo->Subject, kNameType, name.data(), size));
      char serial[80];
      const CRYPT_INTEGER_BLOB& s = cert->pCertInfo->SerialNumber;
      for (DWORD i = 0; i < s.cbData && i < 39; ++i) std::snprintf(serial + 2 * i, 3, "%02x", s.pbData[s.cbData - 1 - i]);
      benchmark::DoNotOptimize(serial);
      for (const FILETIME* t : {&cert->pCertInfo->NotBefore, &cert->pCertInfo->NotAfter}) {
        FILETIME local;
        SYSTEMTIME shown;
        benchmark::DoNotOptimize(FileTimeToLocalFileTime(t, &local) && FileTimeToSystemTime(&local, &shown));
      }
      DWORD info_size = static_cast<DWORD>(info.size());
      benchmark::DoNotOptimize(
          CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &info_size));
      ++certificates;
    }
    (void)CertCloseStore(store, 0);
  }
  state.counters["certificates"] = static_cast<double>(certificates / state.iterations());
  state.counters["per_certificate"] =
      benchmark::Counter(static_cast<double>(certificates), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(ListMyStore)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void AddToLargeStore(benchmark::State& state) {
  ScopeWithStore& scope = Scope();
  HCERTSTORE store = ScopeWithStore::Open(0);
  size_t next = 0;
  for (auto _ : state) {
    const auto& der = scope.spare_[next++ % scope.spare_.size()];
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      state.SkipWithError("add failed");
      break;
    }
  }
  (void)CertCloseStore(store, 0);
}
BENCHMARK(AddToLargeStore)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
