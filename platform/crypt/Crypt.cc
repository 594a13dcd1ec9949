// The provider interface: handle tables, argument checks and dispatch to
// the provider of each handle.
#include "platform/crypt/Crypt.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/crypt/HandleTable.h"
#include "platform/crypt/ProviderCatalog.h"
#include "platform/crypt/ProviderSupport.h"

namespace {

using tessaline::crypt::Call;
using tessaline::crypt::CallRecord;
using tessaline::crypt::Context;
using tessaline::crypt::Hash;
using tessaline::crypt::HandleTable;
using tessaline::crypt::Key;
using tessaline::crypt::Provider;
using tessaline::crypt::ProviderCatalog;
using tessaline::crypt::PublicKeyInfo;

using tessaline::crypt::Bits;
using tessaline::crypt::CopyOut;

HandleTable<Context>& Contexts() {
  static HandleTable<Context> table(0x7C01);
  return table;
}
HandleTable<Key>& Keys() {
  static HandleTable<Key> table(0x7C02);
  return table;
}
HandleTable<Hash>& Hashes() {
  static HandleTable<Hash> table(0x7C03);
  return table;
}

// Runs FN, which returns ERROR_SUCCESS or the error for the thread's last
// error. Nothing thrown leaves the interface.
template <typename Fn>
BOOL Run(Fn&& fn) {
  DWORD error;
  try {
    error = fn();
  } catch (const std::bad_alloc&) {
    error = Bits(NTE_NO_MEMORY);
  } catch (...) {
    error = Bits(NTE_FAIL);
  }
  if (error != ERROR_SUCCESS) return FailWith(error);
  return TRUE;
}

CallRecord Record(Call call, DWORD value, DWORD flags, bool size_query = false) {
  CallRecord record;
  record.call = call;
  record.value = value;
  record.flags = flags;
  record.size_query = size_query;
  return record;
}

// Destroys the key or hash behind HANDLE once its provider's hook allows
// the call.
template <typename T>
DWORD Destroy(HandleTable<T>& table, ULONG_PTR handle, Call call) {
  std::shared_ptr<T> object = table.Find(handle);
  if (!object) return ERROR_INVALID_HANDLE;
  const DWORD hooked = object->context->provider->BeforeCall(Record(call, 0, 0));
  if (hooked != ERROR_SUCCESS) return hooked;
  return table.Remove(handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace

BOOL CryptEnumProvidersW(DWORD dwIndex, DWORD* pdwReserved, DWORD dwFlags, DWORD* pdwProvType, LPWSTR szProvName,
                         DWORD* pcbProvName) {
  return Run([&]() -> DWORD {
    if (pdwReserved != nullptr || dwFlags != 0 || pcbProvName == nullptr) return ERROR_INVALID_PARAMETER;
    const auto providers = ProviderCatalog::Providers();
    if (dwIndex >= providers.size()) return ERROR_NO_MORE_ITEMS;
    Provider& provider = *providers[dwIndex];
    const DWORD hooked = provider.BeforeCall(Record(Call::kEnumProviders, dwIndex, dwFlags, szProvName == nullptr));
    if (hooked != ERROR_SUCCESS) return hooked;
    const std::u16string& name = provider.name();
    const DWORD needed = static_cast<DWORD>((name.size() + 1) * sizeof(char16_t));
    if (szProvName != nullptr) {
      if (*pcbProvName < needed) {
        *pcbProvName = needed;
        return ERROR_MORE_DATA;
      }
      std::copy(name.begin(), name.end(), szProvName);
      szProvName[name.size()] = u'\0';
    }
    *pcbProvName = needed;
    if (pdwProvType != nullptr) *pdwProvType = provider.type();
    return ERROR_SUCCESS;
  });
}

BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider, DWORD dwProvType,
                          DWORD dwFlags) {
  return Run([&]() -> DWORD {
    if (phProv == nullptr) return ERROR_INVALID_PARAMETER;
    std::u16string provider_name;
    if (szProvider != nullptr && *szProvider != u'\0') {
      provider_name = szProvider;
    } else {
      provider_name = dwProvType == PROV_RSA_AES ? MS_ENH_RSA_AES_PROV_W : MS_STRONG_PROV_W;
    }
    std::shared_ptr<Provider> provider = ProviderCatalog::Find(provider_name);
    if (!provider) return Bits(NTE_KEYSET_NOT_DEF);
    if (provider->type() != dwProvType) return Bits(NTE_PROV_TYPE_NO_MATCH);

    std::u16string container;
    if (szContainer != nullptr) container = szContainer;
    CallRecord record = Record(Call::kAcquireContext, 0, dwFlags);
    record.has_container = szContainer != nullptr;
    record.container = container;
    record.provider_type = dwProvType;
    const DWORD hooked = provider->BeforeCall(record);
    if (hooked != ERROR_SUCCESS) return hooked;

    std::shared_ptr<Context> context;
    const DWORD error = provider->Acquire(szContainer != nullptr ? &container : nullptr, dwFlags, &context);
    if (error != ERROR_SUCCESS) return error;
    if (!context) {  // a deletion
      *phProv = 0;
      return ERROR_SUCCESS;
    }
    context->provider = provider;
    *phProv = Contexts().Add(std::move(context));
    return ERROR_SUCCESS;
  });
}

BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  return Run([&]() -> DWORD {
    std::shared_ptr<Context> context = Contexts().Find(hProv);
    if (!context) return ERROR_INVALID_HANDLE;
    if (dwFlags != 0) return Bits(NTE_BAD_FLAGS);
    const DWORD hooked = context->provider->BeforeCall(Record(Call::kReleaseContext, 0, dwFlags));
    if (hooked != ERROR_SUCCESS) return hooked;
    return Contexts().Remove(hProv) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  });
}

BOOL CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey) {
  return Run([&]() -> DWORD {
    std::shared_ptr<Context> context = Contexts().Find(hProv);
    if (!context) return ERROR_INVALID_HANDLE;
    if (phKey == nullptr) return ERROR_INVALID_PARAMETER;
    const DWORD hooked = context->provider->BeforeCall(Record(Call::kGenKey, Algid, dwFlags));
    if (hooked != ERROR_SUCCESS) return hooked;
    std::shared_ptr<Key> key;
    const DWORD error = context->provider->GenKey(*context, Algid, dwFlags, &key);
    if (error != ERROR_SUCCESS) return error;
    *phKey = Keys().Add(std::move(key));
    return ERROR_SUCCESS;
  });
}

BOOL CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
  return Run([&]() -> DWORD {
    std::shared_ptr<Context> context = Contexts().Find(hProv);
    if (!context) return ERROR_INVALID_HANDLE;
    if (phUserKey == nullptr) return ERROR_INVALID_PARAMETER;
    const DWORD hooked = context->provider->BeforeCall(Record(Call::kGetUserKey, dwKeySpec, 0));
    if (hooked != ERROR_SUCCESS) return hooked;
    std::shared_ptr<Key> key;
    const DWORD error = context->provider->GetUserKey(*context, dwKeySpec, &key);
    if (error != ERROR_SUCCESS) return error;
    *phUserKey = Keys().Add(std::move(key));
    return ERROR_SUCCESS;
  });
}

BOOL CryptDestroyKey(HCRYPTKEY hKey) {
  return Run([&] { return Destroy(Keys(), hKey, Call::kDestroyKey); });
}

BOOL CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags, BYTE* pbData,
                    DWORD* pdwDataLen) {
  return Run([&]() -> DWORD {
    std::shared_ptr<Key> key = Keys().Find(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    std::shared_ptr<Key> export_key;
    if (hExpKey != 0 && !(export_key = Keys().Find(hExpKey))) return ERROR_INVALID_HANDLE;
    if (pdwDataLen == nullptr) return ERROR_INVALID_PARAMETER;
    Provider& provider = *key->context->provider;
    const DWORD hooked = provider.BeforeCall(Record(Call::kExportKey, dwBlobType, dwFlags, pbData == nullptr));
    if (hooked != ERROR_SUCCESS) return hooked;
    std::vector<uint8_t> blob;
    const DWORD error = provider.ExportKey(*key, export_key.get(), dwBlobType, dwFlags, &blob);
    if (error != ERROR_SUCCESS) return error;
    return CopyOut(blob, pbData, pdwDataLen);
  });
}

BOOL CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey, DWORD dwFlags,
                    HCRYPTKEY* phKey) {
  return Run([&]() -> DWORD {
    std::shared_ptr<Context> context = Contexts().Find(hProv);
    if (!context) return ERROR_INVALID_HANDLE;
    std::shared_ptr<Key> import_key;
    if (hPubKey != 0 && !(import_key = Keys().Find(hPubKey))) return ERROR_INVALID_HANDLE;
    if (pbData == nullptr || phKey == nullptr) return ERROR_INVALID_PARAMETER;
    if (import_key && import_key->context->provider != context->provider) return Bits(NTE_BAD_KEY);
    CallRecord record = Record(Call::kImportKey, dwDataLen > 0 ? pbData[0] : 0, dwFlags);
    record.data = std::span<const uint8_t>(pbData, dwDataLen);
    const DWORD hooked = context->provider->BeforeCall(record);
    if (hooked != ERROR_SUCCESS) return hooked;
    std::shared_ptr<Key> key;
    const DWORD error = context->provider->ImportKey(*context, record.data, import_key.get(), dwFlags, &key);
    if (error != ERROR_SUCCESS) return error;
    *phKey = Keys().Add(std::move(key));
    return ERROR_SUCCESS;
  });
}

BOOL CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
  return Run([&]() -> DWORD {
    std::shared_ptr<Key> key = Keys().Find(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    Provider& provider = *key->context->provider;
    const DWORD hooked = provider.BeforeCall(Record(Call::kSetKeyParam, dwParam, dwFlags));
    if (hooked != ERROR_SUCCESS) return hooked;
    return provider.SetKeyParam(*key, dwParam, pbData, dwFlags);
  });
}

BOOL CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags) {
  return Run([&]() -> DWORD {
    std::shared_ptr<Key> key = Keys().Find(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (pdwDataLen == nullptr) return ERROR_INVALID_PARAMETER;
    if (dwFlags != 0) return Bits(NTE_BAD_FLAGS);
    Provider& provider = *key->context->provider;
    const DWORD hooked = provider.BeforeCall(Record(Call::kGetKeyParam, dwParam, dwFlags, pbData == nullptr));
    if (hooked != ERROR_SUCCESS) return hooked;
    std::vector<uint8_t> value;
    const DWORD error = provider.GetKeyParam(*key, dwParam, &value);
    if (error != ERROR_SUCCESS) return error;
    return CopyOut(value, pbData, pdwDataLen);
  });
}

BOOL CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags) {
  return Run([&]() -> DWORD {
    std::shared_ptr<Context> context = Contexts().Find(hProv);
    if (!context) return ERROR_INVALID_HANDLE;
    if (pdwDataLen == nullptr) return ERROR_INVALID_PARAMETER;
    const DWORD hooked =
        context->provider->BeforeCall(Record(Call::kGetProvParam, dwParam, dwFlags, pbData == nullptr));
    if (hooked != ERROR_SUCCESS) return hooked;
    return context->provider->GetProvParam(*context, dwParam, pbData, pdwDataLen, dwFlags);
  });
}

BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags, HCRYPTHASH* phHash) {
  return Run([&]() -> DWORD {
    std::shared_ptr<Context> context = Contexts().Find(hProv);
    if (!context) return ERROR_INVALID_HANDLE;
    if (phHash == nullptr) return ERROR_INVALID_PARAMETER;
    if (hKey != 0) return Bits(NTE_BAD_KEY);  // no keyed hashes
    if (dwFlags != 0) return Bits(NTE_BAD_FLAGS);
    const DWORD hooked = context->provider->BeforeCall(Record(Call::kCreateHash, Algid, dwFlags));
    if (hooked != ERROR_SUCCESS) return hooked;
    std::shared_ptr<Hash> hash;
    const DWORD error = context->provider->CreateHash(*context, Algid, &hash);
    if (error != ERROR_SUCCESS) return error;
    *phHash = Hashes().Add(std::move(hash));
    return ERROR_SUCCESS;
  });
}

BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
  return Run([&]() -> DWORD {
    std::shared_ptr<Hash> hash = Hashes().Find(hHash);
    if (!hash) return ERROR_INVALID_HANDLE;
    if (pbData == nullptr && dwDataLen != 0) return ERROR_INVALID_PARAMETER;
    if (dwFlags != 0) return Bits(NTE_BAD_FLAGS);
    Provider& provider = *hash->context->provider;
    CallRecord record = Record(Call::kHashData, dwDataLen, dwFlags);
    if (dwDataLen != 0) record.data = std::span<const uint8_t>(pbData, dwDataLen);
    const DWORD hooked = provider.BeforeCall(record);
    if (hooked != ERROR_SUCCESS) return hooked;
    return provider.HashData(*hash, record.data);
  });
}

BOOL CryptDestroyHash(HCRYPTHASH hHash) {
  return Run([&] { return Destroy(Hashes(), hHash, Call::kDestroyHash); });
}

BOOL CryptSignHashW(HCRYPTHASH hHash, DWORD dwKeySpec, LPCWSTR szDescription, DWORD dwFlags, BYTE* pbSignature,
                    DWORD* pdwSigLen) {
  (void)szDescription;  // not used by any provider
  return Run([&]() -> DWORD {
    std::shared_ptr<Hash> hash = Hashes().Find(hHash);
    if (!hash) return ERROR_INVALID_HANDLE;
    if (pdwSigLen == nullptr) return ERROR_INVALID_PARAMETER;
    Provider& provider = *hash->context->provider;
    const DWORD hooked = provider.BeforeCall(Record(Call::kSignHash, dwKeySpec, dwFlags, pbSignature == nullptr));
    if (hooked != ERROR_SUCCESS) return hooked;
    std::vector<uint8_t> signature;
    DWORD error = provider.SignHash(*hash, dwKeySpec, dwFlags, true, &signature);
    if (error != ERROR_SUCCESS) return error;
    const DWORD needed = static_cast<DWORD>(signature.size());
    if (pbSignature == nullptr || *pdwSigLen < needed) {
      *pdwSigLen = needed;
      return pbSignature == nullptr ? ERROR_SUCCESS : ERROR_MORE_DATA;
    }
    error = provider.SignHash(*hash, dwKeySpec, dwFlags, false, &signature);
    if (error != ERROR_SUCCESS) return error;
    return CopyOut(signature, pbSignature, pdwSigLen);
  });
}

BOOL CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen) {
  return Run([&]() -> DWORD {
    std::shared_ptr<Key> key = Keys().Find(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (hHash != 0) return Hashes().Find(hHash) ? Bits(NTE_BAD_HASH) : ERROR_INVALID_HANDLE;
    if (pdwDataLen == nullptr || (pbData == nullptr && *pdwDataLen != 0)) return ERROR_INVALID_PARAMETER;
    Provider& provider = *key->context->provider;
    CallRecord record = Record(Call::kDecrypt, Final ? 1 : 0, dwFlags);
    if (*pdwDataLen != 0) record.data = std::span<const uint8_t>(pbData, *pdwDataLen);
    const DWORD hooked = provider.BeforeCall(record);
    if (hooked != ERROR_SUCCESS) return hooked;
    std::vector<uint8_t> data(record.data.begin(), record.data.end());
    const DWORD error = provider.Decrypt(*key, Final != FALSE, dwFlags, &data);
    if (error != ERROR_SUCCESS) return error;
    if (data.size() > *pdwDataLen) return Bits(NTE_BAD_LEN);
    std::copy(data.begin(), data.end(), pbData);
    *pdwDataLen = static_cast<DWORD>(data.size());
    return ERROR_SUCCESS;
  });
}

BOOL CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
  return Run([&]() -> DWORD {
    std::shared_ptr<Context> context = Contexts().Find(hProv);
    if (!context) return ERROR_INVALID_HANDLE;
    if (pbBuffer == nullptr && dwLen != 0) return ERROR_INVALID_PARAMETER;
    const DWORD hooked = context->provider->BeforeCall(Record(Call::kGenRandom, dwLen, 0));
    if (hooked != ERROR_SUCCESS) return hooked;
    return context->provider->GenRandom(*context, std::span<uint8_t>(pbBuffer, dwLen));
  });
}

BOOL CryptExportPublicKeyInfo(HCRYPTPROV hCryptProv, DWORD dwKeySpec, DWORD dwCertEncodingType,
                              CERT_PUBLIC_KEY_INFO* pInfo, DWORD* pcbInfo) {
  return Run([&]() -> DWORD {
    std::shared_ptr<Context> context = Contexts().Find(hCryptProv);
    if (!context) return ERROR_INVALID_HANDLE;
    if (pcbInfo == nullptr) return ERROR_INVALID_PARAMETER;
    // No encoder exists for anything but DER.
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0) return ERROR_FILE_NOT_FOUND;
    const DWORD hooked =
        context->provider->BeforeCall(Record(Call::kExportPublicKeyInfo, dwKeySpec, 0, pInfo == nullptr));
    if (hooked != ERROR_SUCCESS) return hooked;
    PublicKeyInfo info;
    const DWORD error = context->provider->ExportPublicKeyInfo(*context, dwKeySpec, &info);
    if (error != ERROR_SUCCESS) return error;

    // The structure, then the identifier text, the parameters and the key.
    const size_t oid_size = info.algorithm_oid.size() + 1;
    const size_t total = sizeof(CERT_PUBLIC_KEY_INFO) + oid_size + info.parameters.size() + info.public_key.size();
    const DWORD needed = static_cast<DWORD>(total);
    if (pInfo == nullptr || *pcbInfo < needed) {
      *pcbInfo = needed;
      return pInfo == nullptr ? ERROR_SUCCESS : ERROR_MORE_DATA;
    }
    BYTE* cursor = reinterpret_cast<BYTE*>(pInfo) + sizeof(CERT_PUBLIC_KEY_INFO);
    CERT_PUBLIC_KEY_INFO result{};
    result.Algorithm.pszObjId = reinterpret_cast<LPSTR>(cursor);
    std::memcpy(cursor, info.algorithm_oid.c_str(), oid_size);
    cursor += oid_size;
    result.Algorithm.Parameters.cbData = static_cast<DWORD>(info.parameters.size());
    result.Algorithm.Parameters.pbData = cursor;
    std::copy(info.parameters.begin(), info.parameters.end(), cursor);
    cursor += info.parameters.size();
    result.PublicKey.cbData = static_cast<DWORD>(info.public_key.size());
    result.PublicKey.pbData = cursor;
    result.PublicKey.cUnusedBits = 0;
    std::copy(info.public_key.begin(), info.public_key.end(), cursor);
    *pInfo = result;
    *pcbInfo = needed;
    return ERROR_SUCCESS;
  });
}
