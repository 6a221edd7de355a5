#include "fs/folder_identity.h"

#include <stdint.h>

#include "base/unique.h"
#include "fs/checked_open.h"
#include "fs/entry_names.h"
#include "fs/file_system_calls.h"
#include "fs/path_checks.h"

namespace tmn {

namespace {

// Where a folder's files lie: its volume, its file index, and the name it
// reached on that volume.
struct ReachedFolder {
  DWORD volumeSerial = 0;
  uint64_t fileIndex = 0;
  WideString name;
};

// Opened through any link, since what counts is where the files lie.
bool Reach(const WideString& folder, ReachedFolder* reached) {
  UniqueFile handle(g_fileSystem.createFile(folder.Get(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION information;
  OpenedFacts facts;
  if (!handle || !g_fileSystem.getFileInformationByHandle(handle.get(), &information) ||
      facts.Read(handle.get()) < 0)
    return false;
  reached->volumeSerial = information.dwVolumeSerialNumber;
  reached->fileIndex = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  return reached->name.Assign(facts.Name(), facts.NameLength());
}

size_t CountComponents(const wchar_t* name, size_t length) {
  size_t count = 0;
  for (size_t i = 0; i < length; ++i)
    if (name[i] != L'\\' && (i == 0 || name[i - 1] == L'\\')) ++count;
  return count;
}

// Whether inner is outer or lies below it: inner, cut after as many
// components as outer has, names outer.
bool LiesWithin(const WideString& inner, const WideString& outer) {
  const size_t wanted = CountComponents(outer.Get(), outer.Length());
  size_t cut = 0, seen = 0;
  for (; cut < inner.Length(); ++cut) {
    const bool starts = inner[cut] != L'\\' && (cut == 0 || inner[cut - 1] == L'\\');
    if (starts && ++seen > wanted) break;
  }
  return seen >= wanted && SameReachedName(inner.Get(), cut, outer.Get(), outer.Length());
}

}  // namespace

FolderRelation RelateFolders(const WideString& a, const WideString& b) {
  if (!IsFullyQualifiedPath(a.Get()) || !IsFullyQualifiedPath(b.Get())) return FolderRelation::kUnknown;
  ReachedFolder first, second;
  if (!Reach(a, &first) || !Reach(b, &second)) return FolderRelation::kUnknown;
  if (first.volumeSerial != second.volumeSerial) return FolderRelation::kApart;
  if (first.fileIndex == second.fileIndex || LiesWithin(first.name, second.name) || LiesWithin(second.name, first.name))
    return FolderRelation::kNested;
  return FolderRelation::kApart;
}

}  // namespace tmn
