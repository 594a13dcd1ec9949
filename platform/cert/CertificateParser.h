// Reads an X.509 certificate into the fields of a CERT_INFO. The blobs point
// into the DER they were read from; the serial number and the object
// identifier strings are held here.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/base/ByteView.h"
#include "platform/cert/Cert.h"

namespace tessaline::cert {

struct ParsedCertificate {
  CERT_INFO info{};
  std::vector<uint8_t> serial;  // least significant byte first
  std::string signature_oid;
  std::string public_key_oid;
  std::vector<std::string> extension_oids;
  std::vector<CERT_EXTENSION> extensions;

  ParsedCertificate() = default;
  // The blobs point into strings and vectors held here: never copied.
  ParsedCertificate(const ParsedCertificate&) = delete;
  ParsedCertificate& operator=(const ParsedCertificate&) = delete;
};

// Fills OUT from DER, which must be exactly one certificate and outlive OUT.
// Returns ERROR_SUCCESS or the CRYPT_E_ASN1_* code (as a DWORD).
DWORD ParseCertificate(std::span<const uint8_t> der, ParsedCertificate* out);

// An OBJECT IDENTIFIER's contents as dotted decimal; false when malformed.
bool DecodeObjectIdentifier(ByteView contents, std::string* dotted);

// UTCTime (tag 0x17) or GeneralizedTime (0x18) contents, in UTC.
bool DecodeTime(uint8_t tag, ByteView contents, FILETIME* out);

}  // namespace tessaline::cert
