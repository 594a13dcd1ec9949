#include <openssl/evp.h>

#include "platform/crypt/ProviderSupport.h"

namespace tessaline::crypt {

DWORD DecryptWithSessionKey(SoftKey& key, bool final, std::vector<uint8_t>* data) {
  if (data->size() % 8 != 0 || (final && data->empty() && !key.running)) return Bits(NTE_BAD_DATA);
  if (!key.running) {
    key.running.reset(EVP_CIPHER_CTX_new());
    const EVP_CIPHER* cipher = key.mode == CRYPT_MODE_ECB ? EVP_des_ede3_ecb() : EVP_des_ede3_cbc();
    if (!key.running ||
        EVP_DecryptInit_ex(key.running.get(), cipher, nullptr, key.secret.data(),
                           key.mode == CRYPT_MODE_ECB ? nullptr : key.iv.data()) != 1 ||
        EVP_CIPHER_CTX_set_padding(key.running.get(), 0) != 1) {
      key.running.reset();
      return Bits(NTE_FAIL);
    }
  }
  std::vector<uint8_t> plain(data->size() + 8);
  int written = 0;
  if (!data->empty() && EVP_DecryptUpdate(key.running.get(), plain.data(), &written, data->data(),
                                          static_cast<int>(data->size())) != 1) {
    key.running.reset();
    return Bits(NTE_BAD_DATA);
  }
  plain.resize(static_cast<size_t>(written));
  if (final) {
    key.running.reset();
    if (plain.empty()) return Bits(NTE_BAD_DATA);
    const uint8_t pad = plain.back();
    if (pad == 0 || pad > 8 || pad > plain.size()) return Bits(NTE_BAD_DATA);
    for (size_t i = plain.size() - pad; i < plain.size(); ++i) {
      if (plain[i] != pad) return Bits(NTE_BAD_DATA);
    }
    plain.resize(plain.size() - pad);
  }
  *data = std::move(plain);
  return ERROR_SUCCESS;
}

}  // namespace tessaline::crypt
