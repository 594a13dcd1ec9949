// Result codes: signed 32-bit values, 0 for success, negative for failure.
//
// HRESULT is an enumeration marked [[nodiscard]], so every function that
// returns one warns (and, with -Werror, fails to build) when a caller drops
// the result. Discard on purpose with (void).
#pragma once

#include <cstdint>

#include "platform/base/Types.h"

enum [[nodiscard]] HRESULT : int32_t {};

constexpr HRESULT MakeResult(uint32_t bits) {
  return static_cast<HRESULT>(static_cast<int32_t>(bits));
}
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr uint32_t ResultBits(HRESULT hr) { return static_cast<uint32_t>(hr); }

// "The Windows error as a result code": 0x80070000 | (e & 0xFFFF) for a
// positive e; zero and negative values pass unchanged.
constexpr HRESULT HRESULT_FROM_WIN32(int64_t e) {
  if (e <= 0 || e > 0xFFFFFFFFll) return static_cast<HRESULT>(static_cast<int32_t>(e));
  const uint32_t bits = static_cast<uint32_t>(e);
  if (static_cast<int32_t>(bits) <= 0) return MakeResult(bits);
  return MakeResult(0x80070000u | (bits & 0xFFFFu));
}

// Returns the result of EXPR from the enclosing function when it failed.
#define RETURN_IF_FAILED(expr)              \
  do {                                      \
    const HRESULT tl_hr_ = (expr);          \
    if (FAILED(tl_hr_)) return tl_hr_;      \
  } while (0)

inline constexpr HRESULT S_OK = MakeResult(0);
inline constexpr HRESULT S_FALSE = MakeResult(1);

// Generic failures.
inline constexpr HRESULT E_NOTIMPL = MakeResult(0x80004001);
inline constexpr HRESULT E_POINTER = MakeResult(0x80004003);
inline constexpr HRESULT E_FAIL = MakeResult(0x80004005);
inline constexpr HRESULT E_ACCESSDENIED = MakeResult(0x80070005);
inline constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057);

// Cryptographic provider failures (also reported through the last error).
inline constexpr HRESULT NTE_BAD_UID = MakeResult(0x80090001);
inline constexpr HRESULT NTE_BAD_HASH = MakeResult(0x80090002);
inline constexpr HRESULT NTE_BAD_KEY = MakeResult(0x80090003);
inline constexpr HRESULT NTE_BAD_LEN = MakeResult(0x80090004);
inline constexpr HRESULT NTE_BAD_DATA = MakeResult(0x80090005);
inline constexpr HRESULT NTE_BAD_SIGNATURE = MakeResult(0x80090006);
inline constexpr HRESULT NTE_BAD_VER = MakeResult(0x80090007);
inline constexpr HRESULT NTE_BAD_ALGID = MakeResult(0x80090008);
inline constexpr HRESULT NTE_BAD_FLAGS = MakeResult(0x80090009);
inline constexpr HRESULT NTE_BAD_TYPE = MakeResult(0x8009000A);
inline constexpr HRESULT NTE_BAD_KEY_STATE = MakeResult(0x8009000B);
inline constexpr HRESULT NTE_BAD_HASH_STATE = MakeResult(0x8009000C);
inline constexpr HRESULT NTE_NO_KEY = MakeResult(0x8009000D);
inline constexpr HRESULT NTE_NO_MEMORY = MakeResult(0x8009000E);
inline constexpr HRESULT NTE_EXISTS = MakeResult(0x8009000F);
inline constexpr HRESULT NTE_PERM = MakeResult(0x80090010);
inline constexpr HRESULT NTE_NOT_FOUND = MakeResult(0x80090011);
inline constexpr HRESULT NTE_BAD_PROVIDER = MakeResult(0x80090013);
inline constexpr HRESULT NTE_BAD_PROV_TYPE = MakeResult(0x80090014);
inline constexpr HRESULT NTE_BAD_KEYSET = MakeResult(0x80090016);
inline constexpr HRESULT NTE_PROV_TYPE_NOT_DEF = MakeResult(0x80090017);
inline constexpr HRESULT NTE_KEYSET_NOT_DEF = MakeResult(0x80090019);
inline constexpr HRESULT NTE_BAD_KEYSET_PARAM = MakeResult(0x8009001F);
inline constexpr HRESULT NTE_FAIL = MakeResult(0x80090020);
inline constexpr HRESULT NTE_INTERNAL_ERROR = MakeResult(0x8009002D);

// Certificate function failures.
inline constexpr HRESULT CRYPT_E_MSG_ERROR = MakeResult(0x80091001);
inline constexpr HRESULT CRYPT_E_UNEXPECTED_ENCODING = MakeResult(0x80091004);
inline constexpr HRESULT CRYPT_E_NOT_FOUND = MakeResult(0x80092004);
inline constexpr HRESULT CRYPT_E_EXISTS = MakeResult(0x80092005);
inline constexpr HRESULT CRYPT_E_NO_KEY_PROPERTY = MakeResult(0x8009200B);
inline constexpr HRESULT CRYPT_E_ASN1_ERROR = MakeResult(0x80093100);
inline constexpr HRESULT CRYPT_E_ASN1_BADTAG = MakeResult(0x8009310B);
inline constexpr HRESULT CRYPT_E_ASN1_EOD = MakeResult(0x80093102);
inline constexpr HRESULT CRYPT_E_ASN1_CORRUPT = MakeResult(0x80093103);
