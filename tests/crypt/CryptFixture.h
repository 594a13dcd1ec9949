// Shared pieces of the provider tests: handle owners, key export helpers
// and the conversions that turn our blobs into files the openssl command
// line reads.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/base/DerWriter.h"
#include "platform/crypt/Crypt.h"
#include "platform/crypt/ProviderCatalog.h"
#include "tests/support/TestScopes.h"
#include "tests/support/TestTools.h"

namespace tessaline::test {

// Owners that release on every path.
struct Prov {
  HCRYPTPROV h = 0;
  ~Prov() {
    if (h != 0) (void)CryptReleaseContext(h, 0);
  }
};
struct KeyH {
  HCRYPTKEY h = 0;
  ~KeyH() {
    if (h != 0) (void)CryptDestroyKey(h);
  }
};
struct HashH {
  HCRYPTHASH h = 0;
  ~HashH() {
    if (h != 0) (void)CryptDestroyHash(h);
  }
};

inline std::u16string UniqueName(const std::u16string& prefix = u"c") {
  static std::atomic<int> counter{0};
  const std::string n = std::to_string(counter++);
  return prefix + std::u16string(n.begin(), n.end());
}

inline DWORD LastError() { return GetLastError(); }
inline DWORD Code(HRESULT hr) { return ResultBits(hr); }

inline std::vector<uint8_t> Export(HCRYPTKEY key, DWORD type) {
  DWORD size = 0;
  if (!CryptExportKey(key, 0, type, 0, nullptr, &size)) return {};
  std::vector<uint8_t> blob(size);
  if (!CryptExportKey(key, 0, type, 0, blob.data(), &size)) return {};
  blob.resize(size);
  return blob;
}

inline std::vector<uint8_t> GetKeyParam(HCRYPTKEY key, DWORD param) {
  DWORD size = 0;
  if (!CryptGetKeyParam(key, param, nullptr, &size, 0)) return {};
  std::vector<uint8_t> value(size);
  if (!CryptGetKeyParam(key, param, value.data(), &size, 0)) return {};
  value.resize(size);
  return value;
}

inline DWORD GetKeyDword(HCRYPTKEY key, DWORD param) {
  const std::vector<uint8_t> value = GetKeyParam(key, param);
  DWORD result = 0;
  if (value.size() == 4) result = value[0] | (value[1] << 8) | (value[2] << 16) | (static_cast<DWORD>(value[3]) << 24);
  return result;
}

// Signs DATA with the container's key of KEY_SPEC; returns the provider's
// little-endian signature.
inline std::vector<uint8_t> SignData(HCRYPTPROV prov, ALG_ID hash_alg, DWORD key_spec,
                                     const std::vector<uint8_t>& data) {
  HashH hash;
  if (!CryptCreateHash(prov, hash_alg, 0, 0, &hash.h)) return {};
  // In pieces, as callers feed large inputs.
  for (size_t offset = 0; offset < data.size(); offset += 7) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(7, data.size() - offset));
    if (!CryptHashData(hash.h, data.data() + offset, piece, 0)) return {};
  }
  DWORD size = 0;
  if (!CryptSignHashW(hash.h, key_spec, nullptr, 0, nullptr, &size)) return {};
  std::vector<uint8_t> signature(size);
  if (!CryptSignHashW(hash.h, key_spec, nullptr, 0, signature.data(), &size)) return {};
  signature.resize(size);
  return signature;
}

inline std::vector<uint8_t> PublicKeyInfoDer(HCRYPTPROV prov, DWORD key_spec) {
  DWORD size = 0;
  if (!CryptExportPublicKeyInfo(prov, key_spec, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, nullptr, &size)) return {};
  std::vector<uint8_t> buffer(size);
  auto* info = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(buffer.data());
  if (!CryptExportPublicKeyInfo(prov, key_spec, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, info, &size)) return {};
  // SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier, subjectPublicKey BIT STRING }
  const std::string oid = info->Algorithm.pszObjId;
  const bool rsa = oid == "1.2.840.113549.1.1.1";
  const std::vector<uint8_t> rsa_oid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
  const std::vector<uint8_t> ec_oid = {0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
  DerWriter der;
  const size_t spki = der.Open(0x30);
  const size_t algorithm = der.Open(0x30);
  der.AddBytes(rsa ? rsa_oid : ec_oid);
  der.AddBytes({info->Algorithm.Parameters.pbData, info->Algorithm.Parameters.cbData});
  der.Close(algorithm);
  std::vector<uint8_t> bits = {0};
  bits.insert(bits.end(), info->PublicKey.pbData, info->PublicKey.pbData + info->PublicKey.cbData);
  der.AddElement(0x03, bits);
  der.Close(spki);
  return der.Finish();
}

// Writes the public key of the container's KEY_SPEC as PEM to PATH.
inline bool WritePublicKeyPem(HCRYPTPROV prov, DWORD key_spec, const TempDir& dir, const std::string& name) {
  const std::vector<uint8_t> der = PublicKeyInfoDer(prov, key_spec);
  if (der.empty()) return false;
  WriteFileBytes(dir.File(name + ".der"), der);
  return RunCommand("openssl pkey -pubin -inform DER -in " + name + ".der -out " + name, dir.path()).exit_code == 0;
}

// Has openssl write a throw-away self-signed RSA certificate as c.der (its
// key as k.pem) in DIR; returns the command's exit code.
inline int MakeCertificateFile(const TempDir& dir) {
  return RunCommand("openssl req -x509 -newkey rsa:1024 -nodes -keyout k.pem -subj /CN=t -days 1 "
                    "-outform DER -out c.der 2>/dev/null",
                    dir.path())
      .exit_code;
}

inline std::vector<uint8_t> Reversed(std::vector<uint8_t> bytes) {
  std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

inline std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

}  // namespace tessaline::test
