#include "fs/folder_identity.h"

#include "base/unique.h"
#include "fs/path_checks.h"
#include "fs/path_operations.h"

namespace tmn {

namespace {

struct FolderIdentity {
  DWORD volume;
  DWORD indexHigh;
  DWORD indexLow;
  bool operator==(const FolderIdentity& other) const {
    return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow;
  }
};

// Opened through any link, since what counts is where the files lie.
bool ReadIdentity(const wchar_t* folder, FolderIdentity* identity) {
  UniqueFile handle(::CreateFileW(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION information;
  if (!handle || !::GetFileInformationByHandle(handle.get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return false;
  *identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
  return true;
}

// Whether target is folder or one of its ancestors; kUnknown when a step
// could not be opened.
FolderRelation HoldsAmongAncestors(const WideString& folder, const FolderIdentity& target) {
  WideString path;
  if (FAILED(GetFullPath(folder.Get(), &path))) return FolderRelation::kUnknown;
  for (;;) {
    // "C:" alone would name the drive's current folder, not its root.
    const bool root = NamesVolumeOrShareRoot(path.Get());
    if (root && !path.EndsWith(L'\\') && !path.Append(L'\\')) return FolderRelation::kUnknown;
    FolderIdentity step;
    if (!ReadIdentity(path.Get(), &step)) return FolderRelation::kUnknown;
    if (step == target) return FolderRelation::kNested;
    if (root || StripLastComponent(path) == 0) return FolderRelation::kApart;
  }
}

}  // namespace

FolderRelation RelateFolders(const WideString& a, const WideString& b) {
  if (!IsFullyQualifiedPath(a.Get()) || !IsFullyQualifiedPath(b.Get())) return FolderRelation::kUnknown;
  FolderIdentity identityA, identityB;
  if (!ReadIdentity(a.Get(), &identityA) || !ReadIdentity(b.Get(), &identityB)) return FolderRelation::kUnknown;
  const FolderRelation below = HoldsAmongAncestors(a, identityB);
  if (below != FolderRelation::kApart) return below;
  return HoldsAmongAncestors(b, identityA);
}

}  // namespace tmn
