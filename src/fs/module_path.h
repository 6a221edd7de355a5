// The file path of a loaded module, or of the host executable.
#pragma once

#include <windows.h>

#include "base/wide_string.h"

namespace tmn {

// Room for a module path, the NUL included.
constexpr DWORD kModulePathChars = MAX_PATH;  // 260

// Reads the path of module (null: the host executable) into out. A path
// that fills the whole 260-character buffer was cut, and its folder would
// name an ancestor of the real one: that counts as a failure, as does a
// failed read. On failure out is left as it was.
HRESULT ReadModulePath(HMODULE module, WideString* out);

// The folder of the host executable, the one place its folder is worked
// out (the product's libraries and version files are looked for there):
// its path without the last component. Fails as ReadModulePath does, and
// for a path with no folder; out is left as it was then.
HRESULT ReadHostFolder(WideString* out);

}  // namespace tmn
