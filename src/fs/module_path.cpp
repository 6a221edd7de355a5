#include "fs/module_path.h"

#include "base/result.h"

namespace tmn {

HRESULT ReadModulePath(HMODULE module, WideString* out) {
  wchar_t path[kModulePathChars];
  const DWORD length = ::GetModuleFileNameW(module, path, kModulePathChars);
  if (length == 0) return HResultFromLastError();
  if (length >= kModulePathChars) return HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);
  return out->Assign(path, length) ? S_OK : E_OUTOFMEMORY;
}

}  // namespace tmn
