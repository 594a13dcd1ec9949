#include "Tessaline/CertificateRequisition.h"

#include <algorithm>
#include <new>
#include <span>

#include "Tessaline/ErrorCodes.h"
#include "Tessaline/Misc.h"
#include "Tessaline/PKCS10Request.h"
#include "Tessaline/ProviderEnumeration.h"
#include "Tessaline/Trace.h"
#include "platform/base/Errors.h"
#include "platform/crypt/Crypt.h"

namespace tessaline {
namespace {

constexpr DWORD kExportEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kRsaExchangeKeyBits = 1024;
constexpr DWORD kSm2ExchangeKeyBits = 256;
constexpr DWORD kProbeKeyBits = 1024;

// A provider handle released on every path unless handed on.
struct ProviderHandle {
  HCRYPTPROV h = 0;
  ~ProviderHandle() {
    if (h != 0) (void)CryptReleaseContext(h, 0);
  }
};

// The last error of a failed provider call, keeping a vendor's mark. A call
// that failed without saying why still failed.
HRESULT KeyFailure(const char* step) {
  HRESULT hr = ErrorCodeToHResult(GetLastError());
  if (!FAILED(hr)) hr = E_FAIL;
  TL_TRACE_STEP(hr, "CreatePublicKey", step);
  return hr;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; };
  for (size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

ALG_ID KeyAlgorithm(bool rsa, DWORD key_spec) {
  if (rsa) return key_spec;
  if (key_spec == AT_KEYEXCHANGE) return CALG_SM2_KEYX;
  if (key_spec == AT_SIGNATURE) return CALG_SM2_SIGN;
  return key_spec;  // the provider refuses it
}

// Deletes container NAME again; only traced, as the caller is already
// failing for its own reason.
void DeleteContainer(const char* caller, const std::u16string& name, const char16_t* provider_name, DWORD type,
                     DWORD flags) {
  HCRYPTPROV deleted = 0;
  const BOOL ok = CryptAcquireContextW(&deleted, name.c_str(), provider_name, type, flags);
  TL_TRACE_STEP(ok ? S_OK : ErrorCodeToHResult(GetLastError()), caller, "CryptAcquireContextW(delete)");
  if (ok && deleted != 0) (void)CryptReleaseContext(deleted, 0);
}

HRESULT ExportRsaPublicKey(HCRYPTPROV provider, DWORD key_spec, std::vector<uint8_t>* out) {
  DWORD size = 0;
  if (!CryptExportPublicKeyInfo(provider, key_spec, kExportEncoding, nullptr, &size)) {
    return KeyFailure("CryptExportPublicKeyInfo(size)");
  }
  std::vector<uint8_t> buffer;
  try {
    buffer.assign(size, 0);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!CryptExportPublicKeyInfo(provider, key_spec, kExportEncoding,
                                reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(buffer.data()), &size)) {
    return KeyFailure("CryptExportPublicKeyInfo");
  }
  *out = std::move(buffer);
  return S_OK;
}

HRESULT ExportSm2PublicKey(HCRYPTKEY key, std::vector<uint8_t>* out) {
  DWORD size = 0;
  if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size)) return KeyFailure("CryptExportKey(size)");
  std::vector<uint8_t> buffer;
  try {
    buffer.assign(size, 0);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, buffer.data(), &size)) return KeyFailure("CryptExportKey");
  buffer.resize(std::min<size_t>(size, buffer.size()));
  *out = std::move(buffer);
  return S_OK;
}

// The DER RSAPublicKey inside an exported CERT_PUBLIC_KEY_INFO buffer,
// checked to lie inside that buffer.
HRESULT RsaPublicKeyBits(const std::vector<uint8_t>& exported, std::span<const uint8_t>* bits) {
  if (exported.size() < sizeof(CERT_PUBLIC_KEY_INFO)) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  const auto* info = reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(exported.data());
  const auto begin = reinterpret_cast<uintptr_t>(exported.data());
  const auto key = reinterpret_cast<uintptr_t>(info->PublicKey.pbData);
  if (key < begin || key > begin + exported.size() || info->PublicKey.cbData > begin + exported.size() - key) {
    return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  }
  *bits = std::span<const uint8_t>(info->PublicKey.pbData, info->PublicKey.cbData);
  return S_OK;
}

}  // namespace

DWORD ProviderTypeOf(std::u16string_view provider_name) {
  return provider_name.find(MS_ENH_RSA_AES_PROV_W) != std::u16string_view::npos ? PROV_RSA_AES : PROV_RSA_FULL;
}

HRESULT CreatePublicKey(std::optional<std::u16string>* container_name, std::vector<uint8_t>* public_key,
                        DWORD key_length, const char16_t* provider_name, bool rsa, DWORD key_spec,
                        bool new_container, HCRYPTPROV* provider, DWORD* public_key_size, DWORD flags) {
  TL_TRACE_SCOPE("CreatePublicKey");
  if (container_name == nullptr || public_key == nullptr || provider == nullptr) return E_POINTER;
  const DWORD generation_flags = (key_length << 16) | flags;
  TL_TRACE_INFO("key length %u, provider %s, RSA %d, key specification %u, new container %d, flags 0x%08x",
                key_length, TraceWideArg(provider_name).c_str(), rsa ? 1 : 0, key_spec, new_container ? 1 : 0,
                generation_flags);

  std::u16string name;
  HRESULT hr = S_OK;
  try {
    if (container_name->has_value()) {
      name = **container_name;
    } else {
      hr = CreateGUIDStr(&name);
      TL_TRACE_STEP(hr, "CreatePublicKey", "CreateGUIDStr");
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (name.empty()) {
    hr = ErrorCodeToHResult(FAILED(hr) ? ResultBits(hr) : GetLastError());
    // A supplied empty name is no container name either.
    return FAILED(hr) ? hr : E_INVALIDARG;
  }

  const DWORD type = ProviderTypeOf(provider_name != nullptr ? provider_name : u"");
  bool created_here = false;
  if (*provider == 0) {
    HCRYPTPROV opened = 0;
    if (!CryptAcquireContextW(&opened, name.c_str(), provider_name, type, new_container ? CRYPT_NEWKEYSET : 0)) {
      return KeyFailure("CryptAcquireContextW");
    }
    TL_TRACE_STEP(S_OK, "CreatePublicKey", "CryptAcquireContextW");
    *provider = opened;
    created_here = new_container;
  }

  HCRYPTKEY key = 0;
  if (!CryptGenKey(*provider, KeyAlgorithm(rsa, key_spec), generation_flags, &key)) {
    hr = KeyFailure("CryptGenKey");
  } else {
    TL_TRACE_STEP(S_OK, "CreatePublicKey", "CryptGenKey");
  }
  std::vector<uint8_t> exported;
  if (SUCCEEDED(hr)) hr = rsa ? ExportRsaPublicKey(*provider, key_spec, &exported) : ExportSm2PublicKey(key, &exported);
  if (key != 0) (void)CryptDestroyKey(key);

  if (FAILED(hr)) {
    // Only a container this call created is removed: a supplied container
    // or handle belongs to the caller.
    if (created_here) {
      (void)CryptReleaseContext(*provider, 0);
      *provider = 0;
      DeleteContainer("CreatePublicKey", name, provider_name, type, rsa ? CRYPT_DELETEKEYSET : CRYPT_SM2_DELETEKEYSET);
    }
    return hr;
  }
  try {
    if (new_container) *container_name = name;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (public_key_size != nullptr) *public_key_size = static_cast<DWORD>(exported.size());
  *public_key = std::move(exported);
  return S_OK;
}

HRESULT HavePermissiontoGenerateKeyPair(VARIANT_BOOL* permitted) {
  TL_TRACE_SCOPE("HavePermissiontoGenerateKeyPair");
  if (permitted == nullptr) return E_POINTER;
  *permitted = VARIANT_FALSE;
  std::u16string providers;
  HRESULT hr = GetAllCSPName(&providers);
  TL_TRACE_STEP(hr, "HavePermissiontoGenerateKeyPair", "GetAllCSPName");
  RETURN_IF_FAILED(hr);
  if (providers.find(MS_DEF_PROV_W) == std::u16string::npos) {
    TL_TRACE_STEP(E_ACCESSDENIED, "HavePermissiontoGenerateKeyPair", "find the base provider");
    return E_ACCESSDENIED;
  }
  std::optional<std::u16string> name;
  std::vector<uint8_t> public_key;
  ProviderHandle provider;
  hr = CreatePublicKey(&name, &public_key, kProbeKeyBits, MS_DEF_PROV_W, true, AT_KEYEXCHANGE, true, &provider.h,
                       nullptr, 0);
  TL_TRACE_STEP(hr, "HavePermissiontoGenerateKeyPair", "CreatePublicKey");
  RETURN_IF_FAILED(hr);
  *permitted = VARIANT_TRUE;
  (void)CryptReleaseContext(provider.h, 0);
  provider.h = 0;
  if (name.has_value()) {
    DeleteContainer("HavePermissiontoGenerateKeyPair", *name, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
  }
  return S_OK;
}

HRESULT PKCS10CertRequisition(std::string* request, std::u16string* container_name, const char16_t* provider_name,
                              const char16_t* subject, int32_t cert_type, DWORD sign_key_spec, bool rsa,
                              DWORD sign_key_length, DWORD sign_flags, ALG_ID hash_algorithm) {
  TL_TRACE_SCOPE("PKCS10CertRequisition");
  if (request == nullptr || container_name == nullptr) return E_POINTER;
  if (subject == nullptr) return E_INVALIDARG;
  const bool double_certificate = cert_type == 2;
  std::optional<std::u16string> name;
  std::vector<uint8_t> exchange_export, sign_export;
  ProviderHandle provider;
  HRESULT hr;

  if (double_certificate) {
    hr = CreatePublicKey(&name, &exchange_export, rsa ? kRsaExchangeKeyBits : kSm2ExchangeKeyBits, provider_name,
                         rsa, AT_KEYEXCHANGE, true, &provider.h, nullptr, 0);
    TL_TRACE_STEP(hr, "PKCS10CertRequisition", "CreatePublicKey(exchange key)");
    RETURN_IF_FAILED(hr);
  }
  hr = CreatePublicKey(&name, &sign_export, sign_key_length, provider_name, rsa, sign_key_spec, cert_type == 1,
                       &provider.h, nullptr, sign_flags);
  TL_TRACE_STEP(hr, "PKCS10CertRequisition", "CreatePublicKey(signing key)");
  if (FAILED(hr)) {
    // The container of a double certificate was made for this request alone
    // and its name is never handed out: don't leave it behind.
    if (double_certificate && name.has_value()) {
      (void)CryptReleaseContext(provider.h, 0);
      provider.h = 0;
      DeleteContainer("PKCS10CertRequisition", *name, provider_name,
                      ProviderTypeOf(provider_name != nullptr ? provider_name : u""),
                      rsa ? CRYPT_DELETEKEYSET : CRYPT_SM2_DELETEKEYSET);
    }
    return hr;
  }

  const char* signature_oid = kSm2WithSm3Oid;
  if (rsa) {
    if (hash_algorithm == CALG_SHA1) {
      signature_oid = kSha1WithRsaOid;
    } else if (hash_algorithm == CALG_MD5) {
      signature_oid = kMd5WithRsaOid;
    } else {
      TL_TRACE_STEP(TL_E_INVALID_HASH_ALGORITHM, "PKCS10CertRequisition", "choose the signature algorithm");
      return TL_E_INVALID_HASH_ALGORITHM;
    }
  } else {
    hash_algorithm = CALG_SM3;
  }

  std::span<const uint8_t> sign_key = sign_export, exchange_key = exchange_export;
  if (rsa) {
    hr = RsaPublicKeyBits(sign_export, &sign_key);
    if (SUCCEEDED(hr) && double_certificate) hr = RsaPublicKeyBits(exchange_export, &exchange_key);
    TL_TRACE_STEP(hr, "PKCS10CertRequisition", "RsaPublicKeyBits");
    RETURN_IF_FAILED(hr);
  }
  std::string text;
  hr = PKCS10RequestBase64(sign_key_spec, provider.h, subject, rsa ? kRsaPublicKeyOid : kEcPublicKeyOid,
                           rsa ? "" : kSm2CurveOid, sign_key, exchange_key, hash_algorithm, signature_oid, &text,
                           nullptr, !rsa);
  TL_TRACE_STEP(hr, "PKCS10CertRequisition", "PKCS10RequestBase64");
  RETURN_IF_FAILED(hr);
  try {
    *container_name = name.value_or(u"");
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *request = std::move(text);
  return S_OK;
}

HRESULT RequestCertificate(const RequestSettings& settings, const char16_t* subject, int32_t cert_type,
                           int32_t sign_flags, bool md5, std::u16string* request, std::u16string* container_name) {
  if (request == nullptr || container_name == nullptr) return E_POINTER;
  request->clear();
  const bool rsa = EqualsIgnoringCase(settings.key_algorithm, u"RSA");
  const bool sm2 = EqualsIgnoringCase(settings.key_algorithm, u"SM2");
  if (!rsa && !(sm2 && !md5)) {
    TL_TRACE_STEP(TL_E_INVALID_KEY_ALGORITHM, "RequestCertificate", "check the key algorithm");
    return TL_E_INVALID_KEY_ALGORITHM;
  }
  DWORD sign_key_spec = cert_type == 1 ? AT_KEYEXCHANGE : AT_SIGNATURE;
  if (md5) {
    if (subject == nullptr || subject[0] == u'\0' || (cert_type != 1 && cert_type != 2)) {
      TL_TRACE_STEP(E_INVALIDARG, "RequestCertificate", "check the arguments");
      return E_INVALIDARG;
    }
    sign_key_spec = static_cast<DWORD>(cert_type);
  }
  std::string text;
  std::u16string name;
  HRESULT hr;
  try {
    const std::u16string provider_name(settings.provider_name);
    hr = PKCS10CertRequisition(&text, &name, provider_name.c_str(), subject, cert_type, sign_key_spec, rsa,
                               static_cast<DWORD>(settings.key_length), static_cast<DWORD>(sign_flags),
                               md5 ? CALG_MD5 : CALG_SHA1);
    TL_TRACE_STEP(hr, "RequestCertificate", "PKCS10CertRequisition");
    RETURN_IF_FAILED(hr);
    // Base64 text: each character is one UTF-16 unit.
    std::u16string wide(text.begin(), text.end());
    *container_name = std::move(name);
    *request = std::move(wide);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace tessaline
