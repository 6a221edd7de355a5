#include "fs/folder_identity.h"

#include "base/unique.h"
#include "fs/file_system_calls.h"
#include "fs/path_checks.h"
#include "fs/path_operations.h"
#include "fs/tree_delete.h"

namespace tmn {

namespace {

// Opened through any link, since what counts is where the files lie.
bool ReadIdentity(const wchar_t* folder, FileIdentity* identity) {
  UniqueFile handle(g_fileSystem.createFile(folder, FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return handle && SUCCEEDED(ReadFileIdentity(handle.get(), identity));
}

// Whether target is folder or one of its ancestors; kUnknown when a step
// could not be opened.
FolderRelation HoldsAmongAncestors(const WideString& folder, const FileIdentity& target) {
  WideString path;
  if (FAILED(GetFullPath(folder.Get(), &path))) return FolderRelation::kUnknown;
  for (;;) {
    // "C:" alone would name the drive's current folder, not its root.
    const bool root = NamesVolumeOrShareRoot(path.Get());
    if (root && !path.EndsWith(L'\\') && !path.Append(L'\\')) return FolderRelation::kUnknown;
    FileIdentity step;
    if (!ReadIdentity(path.Get(), &step)) return FolderRelation::kUnknown;
    if (IsSameFile(step, target)) return FolderRelation::kNested;
    if (root || StripLastComponent(path) == 0) return FolderRelation::kApart;
  }
}

}  // namespace

FolderRelation RelateFolders(const WideString& a, const WideString& b) {
  if (!IsFullyQualifiedPath(a.Get()) || !IsFullyQualifiedPath(b.Get())) return FolderRelation::kUnknown;
  FileIdentity identityA, identityB;
  if (!ReadIdentity(a.Get(), &identityA) || !ReadIdentity(b.Get(), &identityB)) return FolderRelation::kUnknown;
  const FolderRelation below = HoldsAmongAncestors(a, identityB);
  if (below != FolderRelation::kApart) return below;
  return HoldsAmongAncestors(b, identityA);
}

}  // namespace tmn
