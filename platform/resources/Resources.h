// The module resource loader: documents by type and id, message strings by
// id in the user interface language.
//
// Every resource is compiled into the program from resources/, and both
// deliverables carry the same set, so any module handle (including null,
// "this program") reads the same resources.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/base/Types.h"

using UINT = unsigned int;
using LANGID = WORD;

struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
struct HRSRC__;
using HRSRC = HRSRC__*;
using HGLOBAL = void*;

inline constexpr LANGID LANG_ENGLISH_US = 1033;
inline constexpr LANGID LANG_CHINESE_SIMPLIFIED = 2052;

inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
inline constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
inline constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
inline constexpr DWORD ERROR_RESOURCE_LANG_NOT_FOUND = 1815;

// A numeric resource name or type passed where a string is expected.
inline LPCWSTR MAKEINTRESOURCEW(WORD id) { return reinterpret_cast<LPCWSTR>(static_cast<uintptr_t>(id)); }
inline bool IS_INTRESOURCE(LPCWSTR name) { return (reinterpret_cast<uintptr_t>(name) >> 16) == 0; }

// The handle of this program when NAME is null; no other module is known
// (null with ERROR_MOD_NOT_FOUND).
HMODULE GetModuleHandleW(LPCWSTR name);

// Finds the resource NAME (MAKEINTRESOURCEW(id) or "#id") of TYPE (a string
// such as u"CERTIFICATE", compared without regard to case). Null with
// ERROR_RESOURCE_TYPE_NOT_FOUND or ERROR_RESOURCE_NAME_NOT_FOUND otherwise.
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
// The resource's data handle; LockResource turns it into the read-only bytes,
// which stay valid for the life of the program.
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
const void* LockResource(HGLOBAL data);
// Size of the resource in bytes; 0 for a null handle.
DWORD SizeofResource(HMODULE module, HRSRC resource);

// Copies the message string ID of the thread's user interface language into
// BUFFER (at most BUFFER_MAX - 1 characters, then a NUL) and returns the
// number of characters copied. With BUFFER_MAX 0, BUFFER receives a pointer
// to the read-only NUL-terminated string instead. A missing or empty string
// returns 0 (an empty text in BUFFER).
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int buffer_max);

// The user interface language: Chinese (2052) when the first of LC_ALL,
// LC_MESSAGES and LANG that is set and non-empty starts with "zh", English
// (1033) otherwise. The thread language is always the user's.
LANGID GetUserDefaultUILanguage();
LANGID GetThreadUILanguage();

namespace tessaline {

// The message string ID of the table for LANGUAGE; nullopt when that table
// has no such row. A row without text gives an empty view.
std::optional<std::u16string_view> FindMessageString(UINT id, LANGID language);

}  // namespace tessaline
