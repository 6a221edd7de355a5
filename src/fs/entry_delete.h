// One entry's delete, through the handle it was checked on. Opened with no
// more rights than a delete needs (DELETE, FILE_READ_ATTRIBUTES,
// SYNCHRONIZE): an administrator may delete a file through its folder's
// FILE_DELETE_CHILD without being allowed to write its attributes. Where
// Windows offers it, the delete takes the name away at once (POSIX
// semantics) and ignores read-only; elsewhere a read-only entry is reopened
// for its attributes, checked again, cleared, and given its attribute back
// when it stays or keeps another name.
#pragma once

#include <windows.h>

#include "base/unique.h"
#include "base/wide_string.h"
#include "fs/checked_open.h"
#include "fs/repair_policy.h"

namespace tmn {

enum class EntryKind { kFile, kFolder, kEither };

struct EntryToDelete {
  ExpectedEntry expected;
  EntryKind kind;
  // A folder below which nothing stayed: should it still hold something
  // (entries whose deletion waits for others to close them), its removal
  // is tried once more after a moment.
  bool retryWhenNotEmpty;
};

// Deletes one entry: opened relative to its folder (or held, opened so,
// used and closed here), checked, and deleted through that handle. A link
// opened as itself goes as a link, never repaired or changed. A refused
// step goes to the repair policy and is tried once more. S_OK when it went,
// or its deletion is already pending; ERROR_FILE_NOT_FOUND when nothing of
// that name is there; kEntryNotOwn when a check failed; else the refusal.
HRESULT DeleteEntry(const EntryToDelete& entry, UniqueFile* held, OpenedFacts& facts, const RefusedDeleteHook* hook);

// Marks the entry, opened with DELETE, to go when its last handle closes;
// a read-only one refuses.
NTSTATUS ClassicDelete(HANDLE entry);

// Sets an entry's attributes through its handle (0: FILE_ATTRIBUTE_NORMAL),
// its times left as they are.
NTSTATUS SetAttributesOf(HANDLE entry, DWORD attributes);

// Removes the folder named by path when it is empty, reached as
// ReachParentOf reaches it and checked as a tree's entries are; a folder
// that holds anything, or fails a check, stays. Results as DeleteEntry,
// and those of ReachParentOf.
HRESULT RemoveEmptyFolder(const WideString& path, WideString* refusedLink);

}  // namespace tmn
