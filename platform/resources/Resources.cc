#include "platform/resources/Resources.h"

#include <functional>
#include <string_view>

#include "platform/base/Errors.h"
#include "platform/resources/EmbeddedResource.h"

namespace {

using tessaline::EmbeddedResource;
using tessaline::kEmbeddedResourceCount;
using tessaline::kEmbeddedResources;

// The address that stands for this program's module handle.
char g_this_module;

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool TypeMatches(LPCWSTR wanted, const char* folder) {
  for (; *wanted != 0 && *folder != 0; ++wanted, ++folder) {
    if (AsciiUpper(*wanted) != AsciiUpper(static_cast<unsigned char>(*folder))) return false;
  }
  return *wanted == 0 && *folder == 0;
}

// Numeric resource names come as MAKEINTRESOURCEW(id) or as the text "#id".
bool ResourceId(LPCWSTR name, uint32_t* id) {
  if (IS_INTRESOURCE(name)) {
    *id = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(name));
    return true;
  }
  if (name[0] != u'#' || name[1] == 0) return false;
  uint32_t value = 0;
  for (LPCWSTR p = name + 1; *p != 0; ++p) {
    if (*p < u'0' || *p > u'9' || value > 0xFFFF) return false;
    value = value * 10 + static_cast<uint32_t>(*p - u'0');
  }
  if (value > 0xFFFF) return false;
  *id = value;
  return true;
}

// A handle is one of the table's entries; anything else is rejected rather
// than dereferenced.
const EmbeddedResource* EntryOf(const void* handle) {
  const auto* entry = static_cast<const EmbeddedResource*>(handle);
  const std::less<const EmbeddedResource*> before;
  if (entry == nullptr || before(entry, kEmbeddedResources) ||
      !before(entry, kEmbeddedResources + kEmbeddedResourceCount)) {
    return nullptr;
  }
  return entry;
}

}  // namespace

HMODULE GetModuleHandleW(LPCWSTR name) {
  if (name != nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(&g_this_module);
}

HRSRC FindResourceW(HMODULE, LPCWSTR name, LPCWSTR type) {
  if (name == nullptr || type == nullptr || IS_INTRESOURCE(type)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  uint32_t id = 0;
  if (!ResourceId(name, &id)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  bool type_found = false;
  for (size_t i = 0; i < kEmbeddedResourceCount; ++i) {
    const EmbeddedResource& entry = kEmbeddedResources[i];
    // Message tables are reached through LoadStringW only.
    if (std::string_view(entry.type) == tessaline::kMessageTableType || !TypeMatches(type, entry.type)) continue;
    type_found = true;
    if (entry.id == id) return reinterpret_cast<HRSRC>(const_cast<EmbeddedResource*>(&entry));
  }
  SetLastError(type_found ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  const EmbeddedResource* entry = EntryOf(resource);
  if (entry == nullptr) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  return const_cast<EmbeddedResource*>(entry);
}

const void* LockResource(HGLOBAL data) {
  const EmbeddedResource* entry = EntryOf(data);
  return entry == nullptr ? nullptr : entry->data;
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
  const EmbeddedResource* entry = EntryOf(resource);
  if (entry == nullptr) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  return static_cast<DWORD>(entry->size);
}
