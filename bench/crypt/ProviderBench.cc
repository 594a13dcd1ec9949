// The providers beside direct OpenSSL calls on the same key sizes: key
// generation (RSA-2048 varies widely from run to run, so it is reported as
// the median of many runs), signing, and the cost of persisting one
// container in the user database.
#include <benchmark/benchmark.h>
#include <openssl/rsa.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/OpenSsl.h"
#include "platform/crypt/Crypt.h"
#include "platform/storage/Database.h"

namespace {

using tessaline::UniquePtr;

const std::vector<uint8_t> kMessage(1024, 0x5A);
constexpr char kDistinguishingId[] = "1234567812345678";

HCRYPTPROV Open(const char16_t* provider, const char16_t* container, DWORD flags) {
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextW(&prov, container, provider, PROV_RSA_FULL, flags)) std::abort();
  return prov;
}

UniquePtr<EVP_PKEY> OpenSslGenerate(const char* type, int rsa_bits) {
  UniquePtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
  EVP_PKEY_keygen_init(ctx.get());
  if (rsa_bits != 0) EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), rsa_bits);
  EVP_PKEY* key = nullptr;
  EVP_PKEY_generate(ctx.get(), &key);
  return UniquePtr<EVP_PKEY>(key);
}

void RsaGenerate2048Provider(benchmark::State& state) {
  const HCRYPTPROV prov = Open(MS_ENHANCED_PROV_W, nullptr, CRYPT_VERIFYCONTEXT);
  for (auto _ : state) {
    HCRYPTKEY key = 0;
    if (!CryptGenKey(prov, AT_SIGNATURE, KeyLengthFlags(2048), &key)) std::abort();
    (void)CryptDestroyKey(key);
  }
  (void)CryptReleaseContext(prov, 0);
}

void RsaGenerate2048OpenSsl(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(OpenSslGenerate("RSA", 2048));
}

void Sm2GenerateProvider(benchmark::State& state) {
  const HCRYPTPROV prov = Open(TL_SM2_PROV_W, nullptr, CRYPT_VERIFYCONTEXT);
  for (auto _ : state) {
    HCRYPTKEY key = 0;
    if (!CryptGenKey(prov, CALG_SM2_SIGN, 0, &key)) std::abort();
    (void)CryptDestroyKey(key);
  }
  (void)CryptReleaseContext(prov, 0);
}

void Sm2GenerateOpenSsl(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(OpenSslGenerate("SM2", 0));
}

// Signing through the provider loads the key from its container each time,
// as a caller's CryptSignHashW does.
void SignProvider(benchmark::State& state, const char16_t* provider, ALG_ID key_alg, DWORD bits, ALG_ID hash_alg) {
  const HCRYPTPROV prov = Open(provider, u"bench-sign", CRYPT_NEWKEYSET);
  HCRYPTKEY key = 0;
  if (!CryptGenKey(prov, key_alg, KeyLengthFlags(bits), &key)) std::abort();
  (void)CryptDestroyKey(key);
  std::vector<uint8_t> signature(bits / 8 + 64);
  for (auto _ : state) {
    HCRYPTHASH hash = 0;
    DWORD size = static_cast<DWORD>(signature.size());
    if (!CryptCreateHash(prov, hash_alg, 0, 0, &hash) ||
        !CryptHashData(hash, kMessage.data(), static_cast<DWORD>(kMessage.size()), 0) ||
        !CryptSignHashW(hash, AT_SIGNATURE, nullptr, 0, signature.data(), &size)) {
      std::abort();
    }
    (void)CryptDestroyHash(hash);
  }
  (void)CryptReleaseContext(prov, 0);
  HCRYPTPROV deleted = 0;
  (void)CryptAcquireContextW(&deleted, u"bench-sign", provider, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

void RsaSign2048Provider(benchmark::State& state) {
  SignProvider(state, MS_ENHANCED_PROV_W, AT_SIGNATURE, 2048, CALG_SHA1);
}

void Sm2SignProvider(benchmark::State& state) { SignProvider(state, TL_SM2_PROV_W, CALG_SM2_SIGN, 256, CALG_SM3); }

void SignOpenSsl(benchmark::State& state, EVP_PKEY* key, const EVP_MD* md, bool sm2) {
  std::vector<uint8_t> signature(EVP_PKEY_get_size(key));
  for (auto _ : state) {
    UniquePtr<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
    EVP_PKEY_CTX* pctx = nullptr;
    EVP_DigestSignInit(ctx.get(), &pctx, md, nullptr, key);
    if (sm2) EVP_PKEY_CTX_set1_id(pctx, kDistinguishingId, sizeof(kDistinguishingId) - 1);
    size_t size = signature.size();
    if (EVP_DigestSign(ctx.get(), signature.data(), &size, kMessage.data(), kMessage.size()) != 1) std::abort();
  }
}

void RsaSign2048OpenSsl(benchmark::State& state) {
  auto key = OpenSslGenerate("RSA", 2048);
  SignOpenSsl(state, key.get(), EVP_sha1(), false);
}

void Sm2SignOpenSsl(benchmark::State& state) {
  auto key = OpenSslGenerate("SM2", 0);
  SignOpenSsl(state, key.get(), EVP_sm3(), true);
}

// One container created and its key pair stored: the database transactions
// alone, with a key made beforehand.
void PersistContainer(benchmark::State& state, const char16_t* provider, ALG_ID key_alg, DWORD bits) {
  const HCRYPTPROV scratch = Open(provider, nullptr, CRYPT_VERIFYCONTEXT);
  HCRYPTKEY key = 0;
  if (!CryptGenKey(scratch, key_alg, KeyLengthFlags(bits) | CRYPT_EXPORTABLE, &key)) std::abort();
  DWORD size = 0;
  (void)CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size);
  std::vector<uint8_t> blob(size);
  if (!CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size)) std::abort();
  (void)CryptDestroyKey(key);
  (void)CryptReleaseContext(scratch, 0);
  static int counter = 0;  // the function runs several times
  for (auto _ : state) {
    const std::string name = "bench-persist-" + std::to_string(counter++);
    const std::u16string wide(name.begin(), name.end());
    const HCRYPTPROV prov = Open(provider, wide.c_str(), CRYPT_NEWKEYSET);
    HCRYPTKEY imported = 0;
    if (!CryptImportKey(prov, blob.data(), size, 0, 0, &imported)) std::abort();
    (void)CryptDestroyKey(imported);
    (void)CryptReleaseContext(prov, 0);
  }
}

void PersistRsa2048Container(benchmark::State& state) {
  PersistContainer(state, MS_ENHANCED_PROV_W, AT_KEYEXCHANGE, 2048);
}

BENCHMARK(RsaGenerate2048Provider)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(41)->ReportAggregatesOnly(true);
BENCHMARK(RsaGenerate2048OpenSsl)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(41)->ReportAggregatesOnly(true);
BENCHMARK(Sm2GenerateProvider)->Unit(benchmark::kMicrosecond);
BENCHMARK(Sm2GenerateOpenSsl)->Unit(benchmark::kMicrosecond);
BENCHMARK(RsaSign2048Provider)->Unit(benchmark::kMicrosecond);
BENCHMARK(RsaSign2048OpenSsl)->Unit(benchmark::kMicrosecond);
BENCHMARK(Sm2SignProvider)->Unit(benchmark::kMicrosecond);
BENCHMARK(Sm2SignOpenSsl)->Unit(benchmark::kMicrosecond);
BENCHMARK(PersistRsa2048Container)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  // A user scope of its own, removed afterwards.
  std::string root = std::filesystem::temp_directory_path().string() + "/tessaline-bench-XXXXXX";
  if (mkdtemp(root.data()) == nullptr) return 1;
  setenv("XDG_DATA_HOME", root.c_str(), 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  tessaline::storage::Database::CloseAll();
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return 0;
}
