// The registry: a tree of keys holding named, typed values, in two hives.
// HKEY_LOCAL_MACHINE lives in the machine database, HKEY_CURRENT_USER in the
// user's. Key and value names compare without regard to case; a backslash
// separates the components of a subkey path. Every function returns a Windows
// error number (ERROR_SUCCESS on success) and never sets the last error.
//
// Handles come from a table: a closed, stale or made-up handle gives
// ERROR_INVALID_HANDLE, never a crash.
#pragma once

#include <cstdint>

#include "platform/base/CryptTypes.h"
#include "platform/base/Errors.h"
#include "platform/base/Types.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;

inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u));

// Access rights.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM DELETE = 0x00010000;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM KEY_READ = 0x00020019;
inline constexpr REGSAM KEY_WRITE = 0x00020006;
inline constexpr REGSAM KEY_EXECUTE = KEY_READ;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

// RegCreateKeyExW options and dispositions.
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Longest key name component and value name, in characters.
inline constexpr DWORD kMaxRegistryKeyName = 255;
inline constexpr DWORD kMaxRegistryValueName = 16383;

struct SECURITY_ATTRIBUTES;

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                        DWORD* lpdwDisposition);

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                       DWORD cbData);

// Two-call pattern: with lpData null, *lpcbData receives the size; with a
// buffer too small, ERROR_MORE_DATA and the size needed.
LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData,
                         DWORD* lpcbData);

// Subkeys in the order of their case-folded names. *lpcchName is the buffer
// size in characters on entry and the name's length (without the NUL) on
// return; ERROR_NO_MORE_ITEMS past the last one.
LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD* lpcchName, DWORD* lpReserved,
                      LPWSTR lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime);

// Deletes a key that has no subkeys, with its values.
LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);

LSTATUS RegCloseKey(HKEY hKey);
