// CryptGetProvParam of the software providers: names, containers and the
// algorithms each provider offers.
#include <cstring>

#include "platform/crypt/ContainerStore.h"
#include "platform/crypt/KeyBlobs.h"
#include "platform/crypt/ProviderSupport.h"

namespace tessaline::crypt {
namespace {

struct AlgorithmEntry {
  ALG_ID id;
  DWORD default_bits, min_bits, max_bits;
  const char* name;
  const char* long_name;
  bool vendor_only;
};

const AlgorithmEntry kAlgorithms[] = {
    {CALG_RSA_SIGN, kDefaultRsaBits, kMinRsaBits, kMaxRsaBits, "RSA_SIGN", "RSA Signature", false},
    {CALG_RSA_KEYX, kDefaultRsaBits, kMinRsaBits, kMaxRsaBits, "RSA_KEYX", "RSA Key Exchange", false},
    {CALG_3DES, k3DesBits, k3DesBits, k3DesBits, "3DES", "Triple DES", false},
    {CALG_SHA1, 160, 160, 160, "SHA-1", "Secure Hash Algorithm (SHA-1)", false},
    {CALG_MD5, 128, 128, 128, "MD5", "Message Digest 5 (MD5)", false},
    {CALG_SM2_SIGN, kSm2Bits, kSm2Bits, kSm2Bits, "SM2_SIGN", "SM2 Signature", true},
    {CALG_SM2_KEYX, kSm2Bits, kSm2Bits, kSm2Bits, "SM2_KEYX", "SM2 Key Exchange", true},
    {CALG_SM3, 256, 256, 256, "SM3", "SM3 Hash Algorithm", true},
};

}  // namespace

DWORD SoftwareProvider::GetProvParam(Context& base_context, DWORD param, BYTE* data, DWORD* length, DWORD flags) {
  auto& context = static_cast<SoftContext&>(base_context);
  switch (param) {
    case PP_ENUMCONTAINERS: {
      if ((flags & ~(CRYPT_FIRST | CRYPT_NEXT)) != 0) return Bits(NTE_BAD_FLAGS);
      if ((flags & CRYPT_FIRST) != 0 || !context.enumerating_containers) {
        std::vector<std::string> names;
        const DWORD error = ContainerStore::List(name_utf8_, &names);
        if (error != ERROR_SUCCESS) return error;
        context.container_names = std::move(names);
        context.next_container = 0;
        context.enumerating_containers = true;
      }
      if (data == nullptr) {
        // The size query answers for the longest name, so that one buffer
        // serves the whole walk.
        if (context.container_names.empty()) return ERROR_NO_MORE_ITEMS;
        size_t longest = 0;
        for (const auto& name : context.container_names) longest = std::max(longest, name.size() + 1);
        *length = static_cast<DWORD>(longest);
        return ERROR_SUCCESS;
      }
      if (context.next_container >= context.container_names.size()) return ERROR_NO_MORE_ITEMS;
      const DWORD error = CopyOut(TextWithNul(context.container_names[context.next_container]), data, length);
      if (error == ERROR_SUCCESS) ++context.next_container;
      return error;
    }
    case PP_ENUMALGS:
    case PP_ENUMALGS_EX: {
      if ((flags & ~CRYPT_FIRST) != 0) return Bits(NTE_BAD_FLAGS);
      std::vector<const AlgorithmEntry*> entries;
      for (const auto& entry : kAlgorithms) {
        if (!entry.vendor_only || flavor_ == Flavor::kVendor) entries.push_back(&entry);
      }
      if ((flags & CRYPT_FIRST) != 0) context.next_algorithm = 0;
      if (context.next_algorithm >= entries.size()) return ERROR_NO_MORE_ITEMS;
      const AlgorithmEntry& entry = *entries[context.next_algorithm];
      std::vector<uint8_t> record;
      if (param == PP_ENUMALGS_EX) {
        PROV_ENUMALGS_EX ex{};
        ex.aiAlgid = entry.id;
        ex.dwDefaultLen = entry.default_bits;
        ex.dwMinLen = entry.min_bits;
        ex.dwMaxLen = entry.max_bits;
        ex.dwNameLen = static_cast<DWORD>(std::strlen(entry.name) + 1);
        std::memcpy(ex.szName, entry.name, ex.dwNameLen);
        ex.dwLongNameLen = static_cast<DWORD>(std::strlen(entry.long_name) + 1);
        std::memcpy(ex.szLongName, entry.long_name, ex.dwLongNameLen);
        record.assign(reinterpret_cast<const uint8_t*>(&ex), reinterpret_cast<const uint8_t*>(&ex) + sizeof(ex));
      } else {
        PROV_ENUMALGS plain{};
        plain.aiAlgid = entry.id;
        plain.dwBitLen = entry.default_bits;
        plain.dwNameLen = static_cast<DWORD>(std::strlen(entry.name) + 1);
        std::memcpy(plain.szName, entry.name, plain.dwNameLen);
        record.assign(reinterpret_cast<const uint8_t*>(&plain),
                      reinterpret_cast<const uint8_t*>(&plain) + sizeof(plain));
      }
      const DWORD error = CopyOut(record, data, length);
      if (error == ERROR_SUCCESS && data != nullptr) ++context.next_algorithm;
      return error;
    }
    case PP_NAME:
      if (flags != 0) return Bits(NTE_BAD_FLAGS);
      return CopyOut(TextWithNul(name_utf8_), data, length);
    case PP_CONTAINER:
      if (flags != 0) return Bits(NTE_BAD_FLAGS);
      if (!context.container) return Bits(NTE_BAD_KEYSET);
      return CopyOut(TextWithNul(*context.container), data, length);
    case PP_PROVTYPE:
      return CopyOut(DwordBytes(type()), data, length);
    case PP_VERSION:
      return CopyOut(DwordBytes(0x200), data, length);
    case PP_IMPTYPE:
      return CopyOut(DwordBytes(CRYPT_IMPL_SOFTWARE), data, length);
    default:
      return Bits(NTE_BAD_TYPE);
  }
}

}  // namespace tessaline::crypt
