#include "fs/module_path.h"

#include "base/result.h"
#include "fs/path_operations.h"

namespace tmn {

HRESULT ReadModulePath(HMODULE module, WideString* out) {
  wchar_t path[kModulePathChars];
  const DWORD length = ::GetModuleFileNameW(module, path, kModulePathChars);
  if (length == 0) return HResultFromLastError();
  if (length >= kModulePathChars) return HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);
  return out->Assign(path, length) ? S_OK : E_OUTOFMEMORY;
}

HRESULT ReadHostFolder(WideString* out) {
  WideString folder;
  RETURN_IF_FAILED(ReadModulePath(nullptr, &folder));
  if (!StripLastComponent(folder)) return HResultFromWin32(ERROR_BAD_PATHNAME);
  *out = static_cast<WideString&&>(folder);
  return S_OK;
}

}  // namespace tmn
