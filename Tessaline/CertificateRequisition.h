// Key pairs in provider containers and the certificate requests built on
// them: the routines behind the agent's request operations and its
// permission probe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/CryptTypes.h"
#include "platform/base/Result.h"
#include "platform/base/Types.h"

namespace tessaline {

// The provider type a provider is opened with: PROV_RSA_AES for the AES
// provider, PROV_RSA_FULL for every other one (the vendor provider too).
DWORD ProviderTypeOf(std::u16string_view provider_name);

// Generates one key pair in a container of PROVIDER_NAME and exports its
// public key.
//
// *CONTAINER_NAME names the container; when it holds no name, a new GUID
// name is made. With NEW_CONTAINER the container is created (and the name
// written back on success). *PROVIDER, when not 0, is an open handle used as
// it is; otherwise the container is opened and its handle handed to the
// caller, who releases it.
// The key is generated with the algorithm of KEY_SPEC (RSA: the key
// specification; SM2: 0xBE00 or 0x3E00) and the flags KEY_LENGTH << 16 |
// FLAGS. *PUBLIC_KEY receives, for RSA, the CERT_PUBLIC_KEY_INFO the platform
// exports (its pointers point into the same buffer, which a move keeps
// valid), for SM2 the provider's PUBLICKEYBLOB.
// When generation or export fails in a container this call created, the
// container is deleted again and *PROVIDER left 0. Provider failures go
// through ErrorCodeToHResult, so vendor error numbers keep their mark.
// PUBLIC_KEY_SIZE may be null.
HRESULT CreatePublicKey(std::optional<std::u16string>* container_name, std::vector<uint8_t>* public_key,
                        DWORD key_length, const char16_t* provider_name, bool rsa, DWORD key_spec,
                        bool new_container, HCRYPTPROV* provider, DWORD* public_key_size, DWORD flags);

// Probes whether this user may create key containers: makes a 1024-bit key
// in a new container of "Microsoft Base Cryptographic Provider v1.0" and
// deletes the container again. *PERMITTED is VARIANT_TRUE only on success;
// E_ACCESSDENIED when that provider is not installed.
HRESULT HavePermissiontoGenerateKeyPair(VARIANT_BOOL* permitted);

// Generates the keys of a certificate request in a new GUID container of
// PROVIDER_NAME and builds the Base64 request (64 characters a line).
// CERT_TYPE 2 (double certificate) adds a temporary exchange key (1024-bit
// RSA or SM2) whose public key the request carries. HASH_ALGORITHM
// (CALG_SHA1 or CALG_MD5) selects the RSA signature; SM2 always signs with
// SM3. *REQUEST and *CONTAINER_NAME are written only on success.
HRESULT PKCS10CertRequisition(std::string* request, std::u16string* container_name, const char16_t* provider_name,
                              const char16_t* subject, int32_t cert_type, DWORD sign_key_spec, bool rsa,
                              DWORD sign_key_length, DWORD sign_flags, ALG_ID hash_algorithm);

// The agent's settings a request reads.
struct RequestSettings {
  std::u16string_view key_algorithm;
  std::u16string_view provider_name;
  int32_t key_length = 0;
};

// The agent's request operations: VEXA_PKCS10CertRequisition (MD5 false)
// and VEXA_PKCS10CertRequisitionwithMD5 (MD5 true). *REQUEST is always
// written: the Base64 text, or empty on failure. *CONTAINER_NAME is written
// only on success.
HRESULT RequestCertificate(const RequestSettings& settings, const char16_t* subject, int32_t cert_type,
                           int32_t sign_flags, bool md5, std::u16string* request, std::u16string* container_name);

}  // namespace tessaline
