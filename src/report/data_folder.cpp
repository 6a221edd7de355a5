#include "report/data_folder.h"

#include <shlobj.h>

#include "fs/path_operations.h"

namespace tmn {

HRESULT GetDataFolder(const WideString& instead, WideString* folder) {
  if (!instead.IsEmpty()) return folder->Assign(instead) ? S_OK : E_OUTOFMEMORY;
  wchar_t common[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathW(nullptr, common, CSIDL_COMMON_APPDATA, TRUE) || common[0] == L'\0') return E_FAIL;
  WideString joined;
  if (!joined.Assign(common) || !AppendPath(joined, L"Tolmen\\Lumbra")) return E_OUTOFMEMORY;
  *folder = static_cast<WideString&&>(joined);
  return S_OK;
}

bool MakeFolderWithParents(const WideString& folder) {
  ::SHCreateDirectoryExW(nullptr, folder.Get(), nullptr);
  const DWORD attributes = ::GetFileAttributesW(folder.Get());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace tmn
