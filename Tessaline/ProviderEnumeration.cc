#include "Tessaline/ProviderEnumeration.h"

#include <new>

#include "Tessaline/Misc.h"
#include "Tessaline/Trace.h"
#include "platform/base/Errors.h"
#include "platform/crypt/Crypt.h"

namespace tessaline {

HRESULT GetAllCSPName(std::u16string* providers) {
  TL_TRACE_SCOPE("GetAllCSPName");
  try {
    std::u16string list;
    for (DWORD index = 0;; ++index) {
      DWORD type = 0;
      DWORD bytes = 0;
      if (!CryptEnumProvidersW(index, nullptr, 0, &type, nullptr, &bytes)) {
        const DWORD error = GetLastError();
        if (error == ERROR_NO_MORE_ITEMS) break;
        // One unreadable entry does not end the list.
        TL_TRACE_STEP(HRESULT_FROM_WIN32(error), "GetAllCSPName", "CryptEnumProvidersW");
        continue;
      }
      std::u16string name((bytes + 1) / sizeof(char16_t), u'\0');
      DWORD filled = bytes;
      if (!CryptEnumProvidersW(index, nullptr, 0, &type, name.data(), &filled)) {
        const HRESULT result = HRESULT_FROM_WIN32(GetLastError());
        TL_TRACE_STEP(result, "GetAllCSPName", "CryptEnumProvidersW");
        return result;
      }
      name.resize(std::char_traits<char16_t>::length(name.c_str()));
      if (!list.empty()) list += kListSeparator;
      list += name;
    }
    *providers = std::move(list);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT GetProviderInfo(HCRYPTPROV hProv, DWORD dwParam, std::vector<BYTE>* data, DWORD* length) {
  TL_TRACE_SCOPE("GetProviderInfo");
  DWORD size = 0;
  if (!CryptGetProvParam(hProv, dwParam, nullptr, &size, 0)) {
    const HRESULT result = HRESULT_FROM_WIN32(GetLastError());
    TL_TRACE_STEP(result, "GetProviderInfo", "CryptGetProvParam");
    return result;
  }
  if (size == 0) {
    TL_TRACE_STEP(E_FAIL, "GetProviderInfo", "CryptGetProvParam");
    return E_FAIL;
  }
  try {
    std::vector<BYTE> buffer(size, 0);
    if (!CryptGetProvParam(hProv, dwParam, buffer.data(), &size, 0)) {
      const HRESULT result = HRESULT_FROM_WIN32(GetLastError());
      TL_TRACE_STEP(result, "GetProviderInfo", "CryptGetProvParam");
      return result;
    }
    buffer.resize(size);
    *data = std::move(buffer);
    if (length != nullptr) *length = size;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace tessaline
