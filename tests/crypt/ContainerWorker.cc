// Provider operations in a process of their own, for the tests of
// persistence, concurrent writers and a writer killed mid-way.
//
//   crypt_container_worker create PREFIX COUNT   containers PREFIX-0.. with an SM2 key each
//   crypt_container_worker check NAME             exit 0 when NAME holds its SM2 key
//   crypt_container_worker churn PREFIX           generate RSA keys until killed
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/base/Utf.h"
#include "platform/crypt/Crypt.h"

namespace {

std::u16string Wide(const std::string& text) { return Utf8ToUtf16(text); }

int Fail(const char* step) {
  std::fprintf(stderr, "%s failed: 0x%08X\n", step, GetLastError());
  return 1;
}

int Create(const std::string& prefix, int count) {
  for (int i = 0; i < count; ++i) {
    const std::u16string name = Wide(prefix + "-" + std::to_string(i));
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextW(&prov, name.c_str(), TL_SM2_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET)) {
      return Fail("CryptAcquireContextW");
    }
    HCRYPTKEY key = 0;
    if (!CryptGenKey(prov, CALG_SM2_SIGN, 0, &key)) return Fail("CryptGenKey");
    (void)CryptDestroyKey(key);
    (void)CryptReleaseContext(prov, 0);
  }
  return 0;
}

int Check(const std::string& name) {
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextW(&prov, Wide(name).c_str(), TL_SM2_PROV_W, PROV_RSA_FULL, 0)) {
    return Fail("CryptAcquireContextW");
  }
  HCRYPTKEY key = 0;
  if (!CryptGetUserKey(prov, AT_SIGNATURE, &key)) return Fail("CryptGetUserKey");
  return 0;
}

int Churn(const std::string& prefix) {
  for (int i = 0;; ++i) {
    const std::u16string name = Wide(prefix + "-" + std::to_string(i % 5));
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextW(&prov, name.c_str(), MS_DEF_PROV_W, PROV_RSA_FULL, 0) &&
        !CryptAcquireContextW(&prov, name.c_str(), MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET)) {
      return Fail("CryptAcquireContextW");
    }
    HCRYPTKEY key = 0;
    const ALG_ID key_spec = i % 2 == 0 ? AT_KEYEXCHANGE : AT_SIGNATURE;
    if (!CryptGenKey(prov, key_spec, KeyLengthFlags(i % 3 == 0 ? 2048 : 512), &key)) return Fail("CryptGenKey");
    (void)CryptDestroyKey(key);
    (void)CryptReleaseContext(prov, 0);
    std::printf("%d\n", i);
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "create" && argc == 4) return Create(argv[2], std::atoi(argv[3]));
  if (mode == "check" && argc == 3) return Check(argv[2]);
  if (mode == "churn" && argc == 3) return Churn(argv[2]);
  std::fprintf(stderr, "usage: crypt_container_worker create PREFIX COUNT | check NAME | churn PREFIX\n");
  return 2;
}
