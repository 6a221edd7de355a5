#include "beacon/data_folder.h"

#include <shlobj.h>

#include "base/result.h"
#include "fs/link_checks.h"
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

HRESULT HeldDataFolder::Hold(const WideString& instead) {
  WideString folder;
  if (FAILED(GetDataFolder(instead, &folder))) return E_FAIL;
  TrimTrailingSeparators(folder);
  const size_t owned = instead.IsEmpty() ? 2 : 1;

  // What lies above the plug-in's folders is made as the shell makes it.
  WideString parent;
  if (!parent.Assign(folder)) return E_OUTOFMEMORY;
  size_t ends[2] = {};  // where each of the plug-in's folders ends in the path
  for (size_t i = owned; i > 0; --i) {
    ends[i - 1] = parent.Length();
    if (!StripLastComponent(parent)) return HResultFromWin32(ERROR_PATH_NOT_FOUND);
  }
  if (!MakeFolderWithParents(parent)) return HResultFromWin32(ERROR_PATH_NOT_FOUND);

  // Each one is made, held, then examined: a link found stops the making
  // before anything is made behind it.
  for (size_t i = 0; i < owned; ++i) {
    WideString part;
    if (!part.Assign(folder.Get(), ends[i])) return E_OUTOFMEMORY;
    ::CreateDirectoryW(part.Get(), nullptr);
    held_[i] = OpenEntryItself(part.Get(), FILE_LIST_DIRECTORY, OPEN_EXISTING, true);
    if (!held_[i]) return HResultFromWin32(ERROR_PATH_NOT_FOUND);
    EntryFacts facts;
    if (!ReadEntryFacts(held_[i].get(), part.Get(), &facts) || IsLinkOrMultiLinked(facts) ||
        (facts.openedAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      return HResultFromWin32(ERROR_PATH_NOT_FOUND);
  }
  path_ = static_cast<WideString&&>(folder);
  return S_OK;
}

}  // namespace tmn
