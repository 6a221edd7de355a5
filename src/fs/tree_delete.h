// Deleting what other users can write, without following their links.
//
// A path that is checked and then used can be swapped in between: a folder
// renamed and a link to another folder put in its place, and a delete by
// path then empties the link's target. Win32 paths are also re-read on the
// way (a trailing dot or blank dropped, "nul" turned into a device, 260
// characters as a limit), so the entry checked need not be the one deleted.
// So nothing here re-resolves a path once the tree's root is found: each
// folder is held open while its contents go, listed through its handle,
// each child opened by its exact name relative to that handle without
// following a reparse point, checked right before it goes (no reparse
// point, the file id the listing gave, the name the handle reached is the
// folder's checked name plus its own), changed and deleted through that
// handle, and closed at once. A child that fails a check is never entered
// or deleted through: a link the platform opened as itself is removed as a
// link, anything else stays, and the tree counts as not fully deleted.
//
// Wine opens a link's target whatever the flags, names a handle from its
// path at query time (so a swap shows as another name), and deletes at
// close by path: a success status does not prove what went, so a folder's
// removal (refused while it holds anything) and a last look at the root's
// parent confirm it.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/heap.h"
#include "base/unique.h"
#include "base/wide_string.h"
#include "fs/link_checks.h"

namespace tmn {

// An entry that failed a check: a link, or another entry than the one listed.
constexpr HRESULT kEntryNotOwn = HRESULT_FROM_WIN32(ERROR_CANT_ACCESS_FILE);
// A tree that could not be deleted whole: something in it stayed.
constexpr HRESULT kTreeNotAllDeleted = HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY);

// One entry as its folder lists it, read through the folder's handle.
struct ListedEntry {
  const wchar_t* name = nullptr;  // not terminated; valid until the listing moves on
  size_t nameLength = 0;
  DWORD attributes = 0;
  DWORD reparseTag = 0;  // for a reparse point
  uint64_t size = 0;
  uint64_t fileId = 0;
};

// Lists a folder through its handle. Next answers S_OK with an entry ("."
// and ".." left out), S_FALSE at the end, or the failure of the listing.
class FolderListing {
 public:
  explicit FolderListing(HANDLE folder) : folder_(folder) {}
  HRESULT Next(ListedEntry* entry);
  // The entry of exactly that name: S_OK, or HRESULT_FROM_WIN32 of
  // ERROR_FILE_NOT_FOUND when the folder holds none. The first listing of a
  // handle fixes its pattern (Wine keeps it across restarts): Find on a
  // handle of its own, never one listed before.
  HRESULT Find(const wchar_t* name, size_t length, ListedEntry* entry);

 private:
  HRESULT Fill(const wchar_t* mask, size_t maskLength, bool restart);
  HANDLE folder_;
  UniqueHeapBlock buffer_;
  ULONG offset_ = 0;  // of the next entry; kNoEntry when the buffer is used up
  bool started_ = false;
  bool ended_ = false;
};

// An entry held open after its checks, and the name it was checked under
// (the name its handle reached, as the system reports it).
struct HeldEntry {
  UniqueFile handle;
  WideString checkedName;
  uint64_t fileId = 0;
  DWORD attributes = 0;
};

// The volume serial and file index of an open entry: the same pair means
// the same file, whatever the paths that reached it.
struct FileIdentity {
  DWORD volumeSerial = 0;
  uint64_t fileIndex = 0;
};
HRESULT ReadFileIdentity(HANDLE entry, FileIdentity* identity);
bool IsSameFile(const FileIdentity& a, const FileIdentity& b);

// A step of deleting an entry that was refused.
enum class RefusedStep { kClearReadOnly, kDeleteFile, kRemoveFolder };

// Called with the refused entry reopened for READ_CONTROL | WRITE_DAC |
// WRITE_OWNER relative to its checked folder and checked again; true when
// the step is to be tried once more.
struct RefusedDeleteHook {
  bool (*repair)(void* context, HANDLE entry, RefusedStep step);
  void* context;
};

// Opens a folder named by path as the root of what follows: its parent is
// opened by path (\\?\ form; a link above it counts as the installer's),
// the last name is looked up exactly as given in the parent's listing, and
// opened and checked relative to it. kEntryNotOwn when the folder is a link
// or changed between the listing and the open; ERROR_FILE_NOT_FOUND or
// ERROR_PATH_NOT_FOUND when nothing is there; ERROR_DIRECTORY for a file;
// E_INVALIDARG for a path that names a volume or share root, or whose last
// name is empty, "." or "..", or holds a wildcard.
HRESULT OpenFolderByPath(const WideString& path, HeldEntry* folder);

// Opens the listed child of parent relative to its handle, without
// following a reparse point, and checks it (kEntryNotOwn when it fails).
// A listed folder opens with listing access.
HRESULT OpenCheckedChild(const HeldEntry& parent, const ListedEntry& listed, ACCESS_MASK access, HeldEntry* child);

// The child folder of exactly that name, looked up in the parent's listing,
// opened and checked. ERROR_FILE_NOT_FOUND when nothing is there (the one
// answer that means nothing lies beyond), ERROR_DIRECTORY for a file,
// kEntryNotOwn for a link or a changed entry, else the failure met.
HRESULT OpenChildFolder(const HeldEntry& parent, const wchar_t* name, size_t length, HeldEntry* child);

// Deletes the listed child of parent: a file through its checked handle
// (read-only cleared first, and given back when the file keeps another
// name), a folder with everything below it, a link as a link where the
// platform opened it as itself. S_OK when it went; kTreeNotAllDeleted when
// something stayed; E_UNEXPECTED when a folder could not be opened or listed
// (then it and those above it stay). hook may be null.
HRESULT DeleteChild(const HeldEntry& parent, const ListedEntry& listed, const RefusedDeleteHook* hook);
// The same for the child of exactly that name (ERROR_FILE_NOT_FOUND when none).
HRESULT DeleteChildByName(const HeldEntry& parent, const wchar_t* name, size_t length,
                          const RefusedDeleteHook* hook);

// Deletes the folder named by path and everything below it: a worker thread
// lists the tree while the calling thread deletes what it listed. Results
// as DeleteChild, and those of OpenFolderByPath for the root; a root that
// is a link is removed as a link (S_OK) or left (kTreeNotAllDeleted).
HRESULT DeleteTree(const WideString& path, const RefusedDeleteHook* hook);

// Removes the folder named by path when it is empty, through a handle
// opened and checked as a tree's entries are; a folder that holds anything,
// or fails a check, stays. Results as DeleteChild, and those of
// OpenFolderByPath for the path.
HRESULT RemoveEmptyFolder(const WideString& path);

// Whether reported, the name a child's handle reached, is folder's checked
// name, a backslash, and the child's name. Letter case aside, and trailing
// dots and blanks of the child's name aside (Wine reports "m." as "m").
bool ReachedAsChildOf(const wchar_t* reported, size_t reportedLength, const WideString& folder,
                      const wchar_t* name, size_t nameLength);

}  // namespace tmn
