// Pieces shared by the software provider's files.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/Errors.h"
#include "platform/base/Result.h"
#include "platform/crypt/Crypt.h"
#include "platform/crypt/SoftwareProvider.h"

namespace tessaline::crypt {

// An NTE_* code as the thread's last error carries it.
inline DWORD Bits(HRESULT hr) { return ResultBits(hr); }

inline constexpr DWORD kDefaultRsaBits = 1024;
inline constexpr DWORD kSm2Bits = 256;
inline constexpr DWORD k3DesBits = 192;
inline constexpr size_t k3DesKeyBytes = 24;
inline constexpr DWORD kKnownKeyFlags =
    CRYPT_EXPORTABLE | CRYPT_USER_PROTECTED | CRYPT_CREATE_SALT | CRYPT_NO_SALT | CRYPT_ARCHIVABLE;

inline std::vector<uint8_t> DwordBytes(DWORD value) {
  std::vector<uint8_t> out(4);
  std::memcpy(out.data(), &value, 4);
  return out;
}

inline std::vector<uint8_t> TextWithNul(const std::string& text) {
  std::vector<uint8_t> out(text.begin(), text.end());
  out.push_back(0);
  return out;
}

// The two-call copy: no buffer asks for the size; a short buffer gets
// ERROR_MORE_DATA and the size needed.
inline DWORD CopyOut(const std::vector<uint8_t>& value, BYTE* data, DWORD* length) {
  const DWORD needed = static_cast<DWORD>(value.size());
  if (data == nullptr) {
    *length = needed;
    return ERROR_SUCCESS;
  }
  if (*length < needed) {
    *length = needed;
    return ERROR_MORE_DATA;
  }
  std::copy(value.begin(), value.end(), data);
  *length = needed;
  return ERROR_SUCCESS;
}

inline std::shared_ptr<SoftKey> NewKey(const std::shared_ptr<Context>& context) {
  auto key = std::make_shared<SoftKey>();
  key->context = context;
  return key;
}

// Decrypts DATA in place with the 3DES session KEY in its mode; FINAL
// removes the block padding and ends the running chain.
DWORD DecryptWithSessionKey(SoftKey& key, bool final, std::vector<uint8_t>* data);

}  // namespace tessaline::crypt
