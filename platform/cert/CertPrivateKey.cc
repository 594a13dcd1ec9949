// The certificate's private key, reached through its key-provider property.
#include <cstring>
#include "platform/cert/CertObjects.h"
#if __has_include("platform/crypt/Crypt.h")
#include "platform/crypt/Crypt.h"
#define TESSALINE_HAVE_PROVIDERS 1
#endif

using namespace tessaline::cert;

BOOL CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags, void* pvParameters,
                                       HCRYPTPROV* phCryptProv, DWORD* pdwKeySpec, BOOL* pfCallerFreeProv) {
  (void)pvParameters;
  if (phCryptProv == nullptr) return FailWith(static_cast<DWORD>(E_INVALIDARG));
  KeyProvInfo info;
  {
    std::lock_guard<std::recursive_mutex> lock(CertLock());
    CertContextImpl* cert = LiveContext(pCert);
    if (cert == nullptr) return FailWith(static_cast<DWORD>(E_INVALIDARG));
    const auto it = cert->properties.find(CERT_KEY_PROV_INFO_PROP_ID);
    if (it == cert->properties.end()) return FailWith(static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY));
    if (!ParseKeyProvInfo(it->second, &info)) return FailWith(static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY));
  }
#ifdef TESSALINE_HAVE_PROVIDERS
  HCRYPTPROV provider = 0;
  const DWORD acquire_flags = info.flags & (CRYPT_MACHINE_KEYSET | CRYPT_SILENT);
  if (!CryptAcquireContextW(&provider, info.has_container ? info.container.c_str() : nullptr,
                            info.has_provider ? info.provider.c_str() : nullptr, info.provider_type,
                            acquire_flags | ((dwFlags & CRYPT_ACQUIRE_SILENT_FLAG) != 0 ? CRYPT_SILENT : 0))) {
    return FALSE;
  }
  // The container must hold the key the property names.
  HCRYPTKEY key = 0;
  if (!CryptGetUserKey(provider, info.key_spec, &key)) {
    const DWORD error = GetLastError();
    (void)CryptReleaseContext(provider, 0);
    return FailWith(error);
  }
  (void)CryptDestroyKey(key);
  if ((dwFlags & CRYPT_ACQUIRE_COMPARE_KEY_FLAG) != 0) {
    DWORD size = 0;
    bool same = false;
    if (CryptExportPublicKeyInfo(provider, info.key_spec, X509_ASN_ENCODING, nullptr, &size)) {
      std::vector<uint8_t> buffer(size);
      auto* exported = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(buffer.data());
      std::lock_guard<std::recursive_mutex> lock(CertLock());
      CertContextImpl* cert = LiveContext(pCert);
      if (cert != nullptr && CryptExportPublicKeyInfo(provider, info.key_spec, X509_ASN_ENCODING, exported, &size)) {
        const CRYPT_BIT_BLOB& mine = cert->parsed.info.SubjectPublicKeyInfo.PublicKey;
        same = exported->PublicKey.cbData == mine.cbData &&
               (mine.cbData == 0 || std::memcmp(exported->PublicKey.pbData, mine.pbData, mine.cbData) == 0);
      }
    }
    if (!same) {
      (void)CryptReleaseContext(provider, 0);
      return FailWith(static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
    }
  }
  *phCryptProv = provider;
  if (pdwKeySpec != nullptr) *pdwKeySpec = info.key_spec;
  if (pfCallerFreeProv != nullptr) *pfCallerFreeProv = TRUE;
  return TRUE;
#else
  (void)dwFlags;
  (void)pdwKeySpec;
  (void)pfCallerFreeProv;
  return FailWith(static_cast<DWORD>(NTE_PROV_TYPE_NOT_DEF));
#endif
}
