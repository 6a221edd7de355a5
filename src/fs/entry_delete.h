// One entry's delete, through the handle it was checked on. Opened with no
// more rights than a delete needs (DELETE, FILE_READ_ATTRIBUTES,
// SYNCHRONIZE): an administrator may delete a file through its folder's
// FILE_DELETE_CHILD without being allowed to write its attributes. Where
// the volume offers it, the delete takes the name away at once (POSIX
// semantics) and ignores read-only; elsewhere a read-only entry is reopened
// for its attributes, checked again, cleared, and given its attribute back
// when it stays. A read-only file with another name keeps its attributes,
// which are also that name's, and stays.
#pragma once

#include <windows.h>

#include "base/unique.h"
#include "base/wide_string.h"
#include "fs/checked_open.h"
#include "fs/folder_by_path.h"
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

// What the deletions of one run share (a tree, a folder's leftovers, the
// ledger's downloads), all on one volume, as no link is entered below its
// root: the repair hook, whether the volume has shown that it knows no
// POSIX delete, and the facts of each entry. One thread at a time.
struct DeletionRun {
  explicit DeletionRun(const RefusedDeleteHook* repair = nullptr) : hook(repair) {}
  const RefusedDeleteHook* hook;
  bool noPosixDelete = false;
  OpenedFacts facts;
};

// Deletes one entry: opened relative to its folder, checked, and deleted
// through that handle. A folder held open since its listing (held, whose
// check read its id and attributes) is removed through that handle when it
// carries DELETE, and listed through it before a repair. A link opened as
// itself goes as a link, never repaired or changed. A refused step goes to
// the repair policy and is tried once more. S_OK when it went, or its
// deletion is already pending; ERROR_FILE_NOT_FOUND when nothing of that
// name is there; kEntryNotOwn when a check failed; ERROR_FILE_READ_ONLY for
// a read-only file with another name; else the refusal.
HRESULT DeleteEntry(const EntryToDelete& entry, DeletionRun& run, const HeldFolder* held = nullptr,
                    bool heldForDelete = false);

// Marks the entry, opened with DELETE, to go when its last handle closes;
// a read-only one refuses.
NTSTATUS ClassicDelete(HANDLE entry);

// Sets an entry's attributes through its handle (0: FILE_ATTRIBUTE_NORMAL),
// its times left as they are.
NTSTATUS SetAttributesOf(HANDLE entry, DWORD attributes);

// Whether folder still holds an entry of that name and id. Wine deletes at
// close, by path, inside wineserver: a success status does not prove what
// went, only a last look does.
bool StillHolds(const HeldFolder& folder, const wchar_t* name, size_t length, uint64_t fileId, OpenedFacts& facts);

// Removes the folder named by path when it is empty, reached as
// ReachParentOf reaches it and checked as a tree's entries are; a folder
// that holds anything, or fails a check, stays. Results as DeleteEntry,
// and those of ReachParentOf.
HRESULT RemoveEmptyFolder(const WideString& path, const LinkTrust* trust, WideString* refusedLink);

}  // namespace tmn
