// The installed cryptographic providers as the rest of the agent sees them.
#pragma once

#include <string>
#include <vector>

#include "platform/base/CryptTypes.h"
#include "platform/base/Result.h"

namespace tessaline {

// The names of every provider the platform enumerates, in its order, joined
// by "||" (the empty string when there is none). An entry whose size cannot
// be read is skipped. *PROVIDERS is written only on success.
HRESULT GetAllCSPName(std::u16string* providers);

// Reads provider parameter DW_PARAM (PP_NAME, PP_CONTAINER, ...) of HPROV.
// E_FAIL when the provider reports it as empty. *DATA (and *LENGTH, which
// may be null) are written only on success.
HRESULT GetProviderInfo(HCRYPTPROV hProv, DWORD dwParam, std::vector<BYTE>* data, DWORD* length);

}  // namespace tessaline
