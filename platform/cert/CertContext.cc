#include <openssl/evp.h>

#include <cstring>
#include <unordered_map>

#include "platform/cert/CertObjects.h"

namespace tessaline::cert {
namespace {

// Every live context by the address handed out for it.
std::unordered_map<const CERT_CONTEXT*, CertContextImpl*>& LiveContexts() {
  static std::unordered_map<const CERT_CONTEXT*, CertContextImpl*> live;
  return live;
}

bool Digest(const EVP_MD* md, std::span<const uint8_t> data, uint8_t* out, unsigned size) {
  unsigned length = 0;
  return EVP_Digest(data.data(), data.size(), out, &length, md, nullptr) == 1 && length == size;
}

// Copies DATA out in the two-call pattern.
BOOL CopyOut(std::span<const uint8_t> data, void* out, DWORD* size) {
  const auto needed = static_cast<DWORD>(data.size());
  if (out == nullptr) {
    *size = needed;
    return TRUE;
  }
  if (*size < needed) {
    *size = needed;
    return FailWith(ERROR_MORE_DATA);
  }
  if (needed != 0) std::memcpy(out, data.data(), needed);
  *size = needed;
  return TRUE;
}

}  // namespace

std::recursive_mutex& CertLock() {
  static std::recursive_mutex lock;
  return lock;
}

CertContextImpl* NewContext(std::span<const uint8_t> der, DWORD* error) {
  auto context = std::make_unique<CertContextImpl>();
  context->encoded.assign(der.begin(), der.end());
  *error = ParseCertificate(context->encoded, &context->parsed);
  if (*error != ERROR_SUCCESS) return nullptr;
  if (!Digest(EVP_sha1(), context->encoded, context->sha1.data(), 20)) {
    *error = ERROR_INTERNAL_ERROR;
    return nullptr;
  }
  context->context.dwCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
  context->context.pbCertEncoded = context->encoded.data();
  context->context.cbCertEncoded = static_cast<DWORD>(context->encoded.size());
  context->context.pCertInfo = &context->parsed.info;
  std::lock_guard<std::recursive_mutex> lock(CertLock());
  LiveContexts().emplace(&context->context, context.get());
  return context.release();
}

CertContextImpl* LiveContext(PCCERT_CONTEXT context) {
  if (context == nullptr) return nullptr;
  std::lock_guard<std::recursive_mutex> lock(CertLock());
  const auto it = LiveContexts().find(context);
  return it == LiveContexts().end() ? nullptr : it->second;
}

void AddReference(CertContextImpl* context) { context->references.fetch_add(1); }

void ReleaseReference(CertContextImpl* context) {
  std::lock_guard<std::recursive_mutex> lock(CertLock());
  if (context->references.fetch_sub(1) != 1) return;
  LiveContexts().erase(&context->context);
  delete context;
}

std::string ThumbprintKey(const Thumbprint& sha1) { return std::string(sha1.begin(), sha1.end()); }

std::u16string ThumbprintName(const Thumbprint& sha1) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string name;
  for (uint8_t b : sha1) {
    name.push_back(kHex[b >> 4]);
    name.push_back(kHex[b & 15]);
  }
  return name;
}

}  // namespace tessaline::cert

using namespace tessaline::cert;

PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                            DWORD cbCertEncoded) {
  if ((dwCertEncodingType & X509_ASN_ENCODING) == 0 || pbCertEncoded == nullptr) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  DWORD error;
  CertContextImpl* context = NewContext({pbCertEncoded, cbCertEncoded}, &error);
  if (context == nullptr) {
    SetLastError(error);
    return nullptr;
  }
  return &context->context;
}

PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext) {
  CertContextImpl* context = LiveContext(pCertContext);
  if (context == nullptr) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  AddReference(context);
  return pCertContext;
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
  // Freeing null, or something that is not a live context, does nothing.
  std::lock_guard<std::recursive_mutex> lock(CertLock());
  CertContextImpl* context = LiveContext(pCertContext);
  if (context != nullptr) ReleaseReference(context);
  return TRUE;
}

BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, DWORD dwFlags,
                                       const void* pvData) {
  (void)dwFlags;
  std::lock_guard<std::recursive_mutex> lock(CertLock());
  CertContextImpl* context = LiveContext(pCertContext);
  // The certificate itself and the in-process key handles are not properties
  // one can set here.
  if (context == nullptr || dwPropId == 0 || dwPropId == 1 || dwPropId == 5 || dwPropId == CERT_CERT_PROP_ID ||
      dwPropId > 0x00FFFFFF) {
    return FailWith(static_cast<DWORD>(E_INVALIDARG));
  }
  PropertyMap updated = context->properties;
  if (pvData == nullptr) {
    updated.erase(dwPropId);
  } else if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID) {
    updated[dwPropId] = SerializeKeyProvInfo(*static_cast<const CRYPT_KEY_PROV_INFO*>(pvData));
  } else {
    const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(pvData);
    if (blob->pbData == nullptr && blob->cbData != 0) return FailWith(static_cast<DWORD>(E_INVALIDARG));
    updated[dwPropId].assign(blob->pbData, blob->pbData + blob->cbData);
  }

  const std::shared_ptr<StoreImpl>& store = context->store;
  if (store != nullptr && store->read_only) return FailWith(ERROR_ACCESS_DENIED);
  if (store != nullptr && store->kind == StoreImpl::Kind::kSystem && !context->registry_name.empty()) {
    PropertyMap previous = std::move(context->properties);
    context->properties = std::move(updated);
    const DWORD error = PersistCertificate(*store, *context, context->registry_name);
    if (error != ERROR_SUCCESS) {
      context->properties = std::move(previous);
      return FailWith(error);
    }
    context->registry_name = ThumbprintName(context->sha1);
    return TRUE;
  }
  context->properties = std::move(updated);
  return TRUE;
}

BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData,
                                       DWORD* pcbData) {
  std::lock_guard<std::recursive_mutex> lock(CertLock());
  CertContextImpl* context = LiveContext(pCertContext);
  if (context == nullptr || pcbData == nullptr) return FailWith(static_cast<DWORD>(E_INVALIDARG));
  const auto it = context->properties.find(dwPropId);
  if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID) {
    if (it == context->properties.end()) return FailWith(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    KeyProvInfo info;
    if (!ParseKeyProvInfo(it->second, &info)) return FailWith(ERROR_INVALID_DATA);
    const DWORD error = ExpandKeyProvInfo(info, pvData, pcbData);
    return error == ERROR_SUCCESS ? TRUE : FailWith(error);
  }
  if (it != context->properties.end()) return CopyOut(it->second, pvData, pcbData);
  if (dwPropId == CERT_SHA1_HASH_PROP_ID) return CopyOut(context->sha1, pvData, pcbData);
  if (dwPropId == CERT_MD5_HASH_PROP_ID) {
    uint8_t md5[16];
    if (!Digest(EVP_md5(), context->encoded, md5, 16)) return FailWith(ERROR_INTERNAL_ERROR);
    return CopyOut(md5, pvData, pcbData);
  }
  return FailWith(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
}

PCERT_EXTENSION CertFindExtension(LPCSTR pszObjId, DWORD cExtensions, CERT_EXTENSION rgExtensions[]) {
  if (pszObjId != nullptr && rgExtensions != nullptr) {
    for (DWORD i = 0; i < cExtensions; ++i) {
      if (rgExtensions[i].pszObjId != nullptr && std::strcmp(rgExtensions[i].pszObjId, pszObjId) == 0) {
        return &rgExtensions[i];
      }
    }
  }
  SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
  return nullptr;
}

LONG CertVerifyTimeValidity(const FILETIME* pTimeToVerify, const CERT_INFO* pCertInfo) {
  if (pCertInfo == nullptr) return -1;
  FILETIME now;
  if (pTimeToVerify == nullptr) {
    GetSystemTimeAsFileTime(&now);
    pTimeToVerify = &now;
  }
  if (CompareFileTime(pTimeToVerify, &pCertInfo->NotBefore) < 0) return -1;
  if (CompareFileTime(pTimeToVerify, &pCertInfo->NotAfter) > 0) return 1;
  return 0;
}
