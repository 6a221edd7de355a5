// The maker's data folder on this machine, where the statistic log and the
// offline cache live.
#pragma once

#include <windows.h>

#include "base/wide_string.h"

namespace tmn {

// The common application-data folder (made when missing) joined with
// "Tolmen\Lumbra", or instead, when it is not empty, the folder a caller
// chose. E_FAIL when Windows names no such folder; the folder itself is not
// made here.
HRESULT GetDataFolder(const WideString& instead, WideString* folder);

// Makes the folder and every missing one above it, as the shell does:
// nothing standing in the way is removed. True when the folder exists.
bool MakeFolderWithParents(const WideString& folder);

}  // namespace tmn
