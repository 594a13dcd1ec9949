// certs, add-cert, delete-cert: the certificate stores of the user and of the
// machine.
#include <openssl/pem.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/base/OpenSsl.h"
#include "platform/base/Utf.h"
#include "platform/cert/Cert.h"
#include "tools/tessaline/Command.h"

namespace tessaline::admin {
namespace {

struct StoreArguments {
  bool machine = false;
  std::vector<std::string> rest;
};

// Names reach the stores exactly as typed: text that is not UTF-8 would be
// changed on the way (and two names could become one), so it is refused.
bool IsUtf8(const std::string& text) { return Utf16ToUtf8(Utf8ToUtf16(text)) == text; }

bool ParseStoreArguments(const Arguments& args, StoreArguments* out, std::string* problem) {
  for (const std::string& arg : args) {
    if (!IsUtf8(arg)) {
      *problem = "arguments must be UTF-8 text";
      return false;
    }
    if (arg == "--machine") {
      out->machine = true;
    } else if (arg.size() > 1 && arg[0] == '-' && out->rest.empty()) {
      *problem = "unknown option '" + arg + "'";
      return false;
    } else {
      out->rest.push_back(arg);
    }
  }
  return true;
}

// Text from a certificate or a property, made safe for one line of a
// terminal: control characters (tabs and line breaks included, which would
// forge fields or lines) are shown as \xNN.
std::string Printable(const std::string& text) {
  std::string shown;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
      shown += escaped;
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

std::string Hex(const uint8_t* data, size_t size, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += digits[data[i] >> 4];
    text += digits[data[i] & 15];
  }
  return text;
}

std::string ErrorText(DWORD error) {
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08X", error);
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return "permission denied (" + std::string(code) + ")";
    case ERROR_INVALID_PARAMETER:
      return "invalid store name (" + std::string(code) + ")";
    case static_cast<DWORD>(CRYPT_E_ASN1_BADTAG):
    case static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT):
      return "not a valid X.509 certificate (" + std::string(code) + ")";
    default:
      return "error " + std::string(code);
  }
}

// "YYYY-MM-DD HH:MM:SS" in local time.
std::string LocalTime(const FILETIME& utc) {
  FILETIME local;
  SYSTEMTIME t;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &t)) return "?";
  char text[64];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond);
  return text;
}

std::string SubjectText(PCCERT_CONTEXT cert) {
  const DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG | CERT_NAME_STR_NO_QUOTING_FLAG;
  const CERT_NAME_BLOB* name = &cert->pCertInfo->Subject;
  const DWORD size = CertNameToStrW(X509_ASN_ENCODING, name, type, nullptr, 0);
  if (size == 0) return "?";
  std::u16string text(size, u'\0');
  const DWORD written = CertNameToStrW(X509_ASN_ENCODING, name, type, text.data(), size);
  text.resize(written == 0 ? 0 : written - 1);
  return Printable(Utf16ToUtf8(text));
}

std::string Thumbprint(PCCERT_CONTEXT cert) {
  BYTE sha1[20];
  DWORD size = sizeof(sha1);
  if (!CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, sha1, &size)) return "?";
  return Hex(sha1, size, true);
}

std::string ProviderName(PCCERT_CONTEXT cert) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) return "-";
  std::vector<uint8_t> buffer(size);
  if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size)) return "-";
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
  return info->pwszProvName == nullptr ? "-" : Printable(Utf16ToUtf8(info->pwszProvName));
}

std::string SerialText(PCCERT_CONTEXT cert) {
  const CRYPT_INTEGER_BLOB& serial = cert->pCertInfo->SerialNumber;
  std::vector<uint8_t> big_endian(serial.pbData, serial.pbData + serial.cbData);
  std::reverse(big_endian.begin(), big_endian.end());
  return Hex(big_endian.data(), big_endian.size(), false);
}

HCERTSTORE OpenSystemStore(bool machine, const std::string& name, bool read_only) {
  const std::u16string wide = Utf8ToUtf16(name);
  const DWORD flags = (machine ? CERT_SYSTEM_STORE_LOCAL_MACHINE : CERT_SYSTEM_STORE_CURRENT_USER) |
                      (read_only ? CERT_STORE_READONLY_FLAG : 0);
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, flags, wide.c_str());
}

std::string StoreLabel(bool machine, const std::string& name) {
  return (machine ? "machine store '" : "user store '") + name + "'";
}

// The certificates of a PEM file (all of them) or of a DER file (one).
bool ReadCertificates(const std::string& path, std::vector<std::vector<uint8_t>>* out, std::string* problem) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *problem = "cannot read '" + path + "'";
    return false;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text.find("-----BEGIN") == std::string_view::npos) {
    out->push_back(bytes);
    return true;
  }
  UniquePtr<BIO> bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  while (true) {
    UniquePtr<X509> x509(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!x509) break;
    const int length = i2d_X509(x509.get(), nullptr);
    if (length <= 0) break;
    std::vector<uint8_t> der(static_cast<size_t>(length));
    uint8_t* cursor = der.data();
    i2d_X509(x509.get(), &cursor);
    out->push_back(std::move(der));
  }
  if (out->empty()) {
    *problem = "no certificate found in '" + path + "'";
    return false;
  }
  return true;
}

// A thumbprint as typed: 40 hexadecimal digits, separators ' ' and ':'
// allowed. Returns it upper-case, or empty when it is not one.
std::string NormalizeThumbprint(const std::string& typed) {
  std::string hex;
  for (char c : typed) {
    if (c == ' ' || c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return hex.size() == 40 ? hex : std::string();
}

int RunCerts(const Arguments& args, Output& io);
int RunAddCert(const Arguments& args, Output& io);
int RunDeleteCert(const Arguments& args, Output& io);

const Command kCerts{"certs", "certs [--machine] [STORE]",
                     "list a certificate store (default MY): thumbprint, subject, serial, validity (local "
                     "time), provider; tab-separated",
                     RunCerts};
const Command kAddCert{"add-cert", "add-cert [--machine] STORE FILE",
                       "add the certificates of a PEM or DER file to a store (kept if already there)", RunAddCert};
const Command kDeleteCert{"delete-cert", "delete-cert [--machine] STORE THUMBPRINT",
                          "delete a certificate, named by its SHA-1 thumbprint, from a store", RunDeleteCert};

int RunCerts(const Arguments& args, Output& io) {
  StoreArguments parsed;
  std::string problem;
  if (!ParseStoreArguments(args, &parsed, &problem)) return UsageError(kCerts, io, problem);
  if (parsed.rest.size() > 1) return UsageError(kCerts, io, "too many arguments");
  const std::string name = parsed.rest.empty() ? "MY" : parsed.rest[0];
  HCERTSTORE store = OpenSystemStore(parsed.machine, name, true);
  if (store == nullptr) {
    io.err << "tessaline certs: cannot open " << StoreLabel(parsed.machine, name) << ": "
           << ErrorText(GetLastError()) << "\n";
    return kExitFailure;
  }
  for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr); cert != nullptr;
       cert = CertEnumCertificatesInStore(store, cert)) {
    io.out << Thumbprint(cert) << '\t' << SubjectText(cert) << '\t' << SerialText(cert) << '\t'
           << LocalTime(cert->pCertInfo->NotBefore) << '\t' << LocalTime(cert->pCertInfo->NotAfter) << '\t'
           << ProviderName(cert) << '\n';
  }
  (void)CertCloseStore(store, 0);
  return kExitOk;
}

int RunAddCert(const Arguments& args, Output& io) {
  StoreArguments parsed;
  std::string problem;
  if (!ParseStoreArguments(args, &parsed, &problem)) return UsageError(kAddCert, io, problem);
  if (parsed.rest.size() != 2) return UsageError(kAddCert, io, "expected a store name and a file");
  const std::string& name = parsed.rest[0];
  std::vector<std::vector<uint8_t>> certificates;
  if (!ReadCertificates(parsed.rest[1], &certificates, &problem)) {
    io.err << "tessaline add-cert: " << problem << "\n";
    return kExitFailure;
  }
  // Check every certificate before the store is touched.
  for (const auto& der : certificates) {
    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (cert == nullptr) {
      io.err << "tessaline add-cert: '" << parsed.rest[1] << "': " << ErrorText(GetLastError()) << "\n";
      return kExitFailure;
    }
    (void)CertFreeCertificateContext(cert);
  }
  HCERTSTORE store = OpenSystemStore(parsed.machine, name, false);
  if (store == nullptr) {
    io.err << "tessaline add-cert: cannot open " << StoreLabel(parsed.machine, name) << ": "
           << ErrorText(GetLastError()) << "\n";
    return kExitFailure;
  }
  int status = kExitOk;
  for (const auto& der : certificates) {
    PCCERT_CONTEXT added = nullptr;
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                          static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING, &added)) {
      io.err << "tessaline add-cert: cannot add to " << StoreLabel(parsed.machine, name) << ": "
             << ErrorText(GetLastError()) << "\n";
      status = kExitFailure;
      break;
    }
    io.out << Thumbprint(added) << '\n';
    (void)CertFreeCertificateContext(added);
  }
  (void)CertCloseStore(store, 0);
  return status;
}

int RunDeleteCert(const Arguments& args, Output& io) {
  StoreArguments parsed;
  std::string problem;
  if (!ParseStoreArguments(args, &parsed, &problem)) return UsageError(kDeleteCert, io, problem);
  if (parsed.rest.size() != 2) return UsageError(kDeleteCert, io, "expected a store name and a thumbprint");
  const std::string& name = parsed.rest[0];
  const std::string thumbprint = NormalizeThumbprint(parsed.rest[1]);
  if (thumbprint.empty()) return UsageError(kDeleteCert, io, "a thumbprint is 40 hexadecimal digits");
  HCERTSTORE store = OpenSystemStore(parsed.machine, name, false);
  if (store == nullptr) {
    io.err << "tessaline delete-cert: cannot open " << StoreLabel(parsed.machine, name) << ": "
           << ErrorText(GetLastError()) << "\n";
    return kExitFailure;
  }
  int status = kExitFailure;
  bool found = false;
  for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr); cert != nullptr;
       cert = CertEnumCertificatesInStore(store, cert)) {
    if (Thumbprint(cert) != thumbprint) continue;
    found = true;
    if (CertDeleteCertificateFromStore(CertDuplicateCertificateContext(cert))) {
      status = kExitOk;
    } else {
      io.err << "tessaline delete-cert: cannot delete from " << StoreLabel(parsed.machine, name) << ": "
             << ErrorText(GetLastError()) << "\n";
    }
    (void)CertFreeCertificateContext(cert);
    break;
  }
  if (!found) io.err << "tessaline delete-cert: no certificate " << thumbprint << " in " << StoreLabel(parsed.machine, name) << "\n";
  (void)CertCloseStore(store, 0);
  return status;
}

const CommandRegistrar kRegisterCerts{kCerts};
const CommandRegistrar kRegisterAddCert{kAddCert};
const CommandRegistrar kRegisterDeleteCert{kDeleteCert};

}  // namespace
}  // namespace tessaline::admin
