// registry_probe: run as a user who may only read the machine scope; prints
// what each registry call on HKEY_LOCAL_MACHINE\SOFTWARE\Probe returns, and
// whether the user's own scope takes a write.
#include <cstdio>
#include <string>

#include "platform/registry/Registry.h"

int main() {
  HKEY key = nullptr;
  const LSTATUS read = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Probe", 0, KEY_READ, &key);
  std::string value;
  const BYTE b = 1;
  LSTATUS set = ERROR_INVALID_HANDLE;
  if (read == ERROR_SUCCESS) {
    char buffer[32] = {};
    DWORD size = sizeof(buffer) - 1;
    if (RegQueryValueExW(key, u"Value", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS) {
      value.assign(buffer, size);
    }
    set = RegSetValueExW(key, u"Value", 0, REG_BINARY, &b, 1);
    (void)RegCloseKey(key);
  }
  HKEY created = nullptr;
  const LSTATUS create = RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Other", 0, nullptr, 0, KEY_ALL_ACCESS,
                                         nullptr, &created, nullptr);
  const LSTATUS remove = RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Probe");
  HKEY writable = nullptr;
  const LSTATUS open_write = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Probe", 0, KEY_ALL_ACCESS, &writable);
  HKEY mine = nullptr;
  LSTATUS user_write = RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Mine", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                       &mine, nullptr);
  if (user_write == ERROR_SUCCESS) {
    user_write = RegSetValueExW(mine, u"v", 0, REG_BINARY, &b, 1);
    (void)RegCloseKey(mine);
  }
  if (read != ERROR_SUCCESS) set = ERROR_INVALID_HANDLE;
  std::printf("read=%d value=%s create=%d set=%d delete=%d open_write=%d user_write=%d\n", read, value.c_str(),
              create, set, remove, open_write, user_write);
  return 0;
}
