#include "platform/crypt/Provider.h"

namespace tessaline::crypt {

const char* CallName(Call call) {
  switch (call) {
    case Call::kEnumProviders:
      return "CryptEnumProvidersW";
    case Call::kAcquireContext:
      return "CryptAcquireContextW";
    case Call::kReleaseContext:
      return "CryptReleaseContext";
    case Call::kGenKey:
      return "CryptGenKey";
    case Call::kGetUserKey:
      return "CryptGetUserKey";
    case Call::kDestroyKey:
      return "CryptDestroyKey";
    case Call::kExportKey:
      return "CryptExportKey";
    case Call::kImportKey:
      return "CryptImportKey";
    case Call::kSetKeyParam:
      return "CryptSetKeyParam";
    case Call::kGetKeyParam:
      return "CryptGetKeyParam";
    case Call::kGetProvParam:
      return "CryptGetProvParam";
    case Call::kCreateHash:
      return "CryptCreateHash";
    case Call::kHashData:
      return "CryptHashData";
    case Call::kDestroyHash:
      return "CryptDestroyHash";
    case Call::kSignHash:
      return "CryptSignHashW";
    case Call::kDecrypt:
      return "CryptDecrypt";
    case Call::kGenRandom:
      return "CryptGenRandom";
    case Call::kExportPublicKeyInfo:
      return "CryptExportPublicKeyInfo";
  }
  return "?";
}

}  // namespace tessaline::crypt
