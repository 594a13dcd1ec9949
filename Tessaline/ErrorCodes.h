// The agent's own result codes and the rule that turns error numbers into
// result codes.
//
// Own failures are 0xA007xxxx: failure bit, application bit (bit 29), the
// Windows error facility, and a message number in the low 16 bits that
// selects the code's text in the English and Chinese message tables.
// Windows-defined codes (E_INVALIDARG, NTE_*, CRYPT_E_*) live in
// platform/base/Result.h.
#pragma once

#include <cstdint>
#include <string>

#include "platform/base/Result.h"
#include "platform/base/Types.h"

namespace tessaline {

// Certificate store and file handling.
inline constexpr HRESULT TL_E_NO_CERTIFICATE_IN_STORE = MakeResult(0xA0071001);
inline constexpr HRESULT TL_E_USER_CANCELED = MakeResult(0xA0071002);
inline constexpr HRESULT TL_E_QUERY_TYPE_NOT_SUPPORTED = MakeResult(0xA0071003);
inline constexpr HRESULT TL_E_BASE64_ENCODE = MakeResult(0xA0071004);
inline constexpr HRESULT TL_E_BASE64_DECODE = MakeResult(0xA0071005);
inline constexpr HRESULT TL_E_MALICIOUS_PATH = MakeResult(0xA0071006);
inline constexpr HRESULT TL_E_EMPTY_FILE = MakeResult(0xA0071007);
// The certificate's key is already associated by the platform, so it is not
// held only in a provider container. No text.
inline constexpr HRESULT TL_E_NOT_CONTAINER_ONLY = MakeResult(0xA0071009);

// Certificate contents.
inline constexpr HRESULT TL_E_NO_KEY_USAGE = MakeResult(0xA0071020);
inline constexpr HRESULT TL_E_NO_SUBJECT_KEY_ID = MakeResult(0xA0071021);
inline constexpr HRESULT TL_E_CHAIN_TIME_INVALID = MakeResult(0xA0071031);
inline constexpr HRESULT TL_E_CERT_IN_OFFLINE_CRL = MakeResult(0xA0071032);
inline constexpr HRESULT TL_E_CHAIN_INCOMPLETE = MakeResult(0xA0071033);
inline constexpr HRESULT TL_E_CHAIN_SIGNATURE_INVALID = MakeResult(0xA0071034);
inline constexpr HRESULT TL_E_CERT_NOT_FOUND = MakeResult(0xA0071035);

// Decoding.
inline constexpr HRESULT TL_E_ASN1_DECODE = MakeResult(0xA0071041);
inline constexpr HRESULT TL_E_PKCS7_DECODE = MakeResult(0xA0071042);

// Key material and encryption certificate import.
inline constexpr HRESULT TL_E_INVALID_PRIVATE_KEY_INFO = MakeResult(0xA0071400);
inline constexpr HRESULT TL_E_INVALID_PRIVATE_KEY = MakeResult(0xA0071401);
inline constexpr HRESULT TL_E_XML_PARSE = MakeResult(0xA0071402);
inline constexpr HRESULT TL_E_IMPORT_ENCRYPT_CERT = MakeResult(0xA0071403);
inline constexpr HRESULT TL_E_INVALID_DEVICE_TYPE = MakeResult(0xA0071404);
inline constexpr HRESULT TL_E_INVALID_ENCRYPT_TYPE = MakeResult(0xA0071405);
inline constexpr HRESULT TL_E_INVALID_SESSION_KEY_TYPE = MakeResult(0xA0071406);

// Agent settings and requests.
inline constexpr HRESULT TL_E_CERT_NOT_READY = MakeResult(0xA0072001);
inline constexpr HRESULT TL_E_LANGUAGE_NOT_SUPPORTED = MakeResult(0xA0072002);
inline constexpr HRESULT TL_E_CERT_NOT_UNIQUE = MakeResult(0xA0072003);
inline constexpr HRESULT TL_E_INVALID_HASH_ALGORITHM = MakeResult(0xA0072020);
inline constexpr HRESULT TL_E_INVALID_CERT_USAGE = MakeResult(0xA0072021);
inline constexpr HRESULT TL_E_INVALID_SIGN_TYPE = MakeResult(0xA0072022);
inline constexpr HRESULT TL_E_INVALID_ENVELOPE_TYPE = MakeResult(0xA0072023);
inline constexpr HRESULT TL_E_KEY_LENGTH_NOT_SUPPORTED = MakeResult(0xA0072400);
inline constexpr HRESULT TL_E_INVALID_KEY_ALGORITHM = MakeResult(0xA0072401);

// Host protocol. No text.
inline constexpr HRESULT TL_E_JSON_PARSE = MakeResult(0xA0073202);  // response object not created
inline constexpr HRESULT TL_E_JSON_TYPE = MakeResult(0xA0073204);   // argument of the wrong JSON type

// Application error numbers: an own failure expressed as a Windows-style
// error number (bit 29 set) before ErrorCodeToHResult turns it into a
// result code. TL_ERROR_XML_NODE_NOT_FOUND doubles as the non-failure
// answer of a child-node lookup that found nothing.
inline constexpr DWORD TL_ERROR_APPLICATION_BIT = 0x20000000;
inline constexpr DWORD TL_ERROR_ASN1_DECODE = 0x20001041;
inline constexpr DWORD TL_ERROR_XML_NODE_NOT_FOUND = 0x20001402;

// Turns a last-error value or application error number into a result code:
// a positive value with bit 29 set becomes 0xA0070000 | low 16 bits, any
// other positive value 0x80070000 | low 16 bits; 0 and negative values pass
// unchanged. The value is taken as the 32-bit quantity the platform
// reports, so a DWORD that already holds a failure code (0x8009002D) is
// recognised as negative and passes unchanged.
constexpr HRESULT ErrorCodeToHResult(int64_t value) {
  const int32_t code = static_cast<int32_t>(static_cast<uint32_t>(value));
  if (code <= 0) return static_cast<HRESULT>(code);
  const uint32_t low = static_cast<uint32_t>(code) & 0xFFFFu;
  if (static_cast<uint32_t>(code) & TL_ERROR_APPLICATION_BIT) return MakeResult(0xA0070000u | low);
  return MakeResult(0x80070000u | low);
}

// True for the agent's own codes (bit 29 set): their text comes from the
// message tables rather than from the system.
constexpr bool IsApplicationCode(HRESULT code) { return (ResultBits(code) & TL_ERROR_APPLICATION_BIT) != 0; }

// The description of CODE as GetLastErrorDesc reports it: the code's text in
// the user interface language (the message tables for own codes, the
// system's text otherwise; empty when there is none), then a line feed and
// the code as "(0x%08x)". At most 511 characters. Never fails.
std::u16string DescribeResultCode(HRESULT code);

}  // namespace tessaline
