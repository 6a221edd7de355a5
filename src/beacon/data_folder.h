// The maker's data folder on this machine, where the statistic log and the
// offline cache live.
#pragma once

#include <windows.h>

#include "base/unique.h"
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

// The data folder made and held for one use. Every user may write in it,
// and an elevated installer rewrites its access and writes and deletes in
// it: each folder the plug-in makes there ("Tolmen" and "Lumbra", or the
// chosen folder itself) must be a real folder, not a link to another, and
// is held so that it cannot be renamed or replaced until the hold ends.
class HeldDataFolder {
 public:
  HeldDataFolder() = default;
  HeldDataFolder(const HeldDataFolder&) = delete;
  HeldDataFolder& operator=(const HeldDataFolder&) = delete;

  // Makes what is missing and holds it. E_FAIL when Windows names no data
  // folder; HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) when a folder cannot be
  // made, or one of the plug-in's folders is a link or no folder at all:
  // then nothing is made behind it.
  HRESULT Hold(const WideString& instead);
  // The folder, without trailing separators.
  const WideString& path() const { return path_; }

 private:
  WideString path_;
  UniqueFile held_[2];  // Tolmen, Lumbra; or the chosen folder
};

}  // namespace tmn
