// One checked open: an entry opened by its exact name relative to its
// folder's handle, without following a reparse point, and checked right
// after: its id is the one its listing gave, it is a link only where one
// was listed, and the name its handle reached is its folder's checked name
// and its own. On Windows the open itself holds the entry; under Wine, which
// opens a link's target whatever the flags and names a handle from its path
// when asked, the reached name is what shows a link or a swap.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/unique.h"
#include "base/wide_string.h"
#include "fs/folder_listing.h"
#include "fs/nt_calls.h"

namespace tmn {

// An entry that failed a check: a link, or another entry than the one listed.
constexpr HRESULT kEntryNotOwn = HRESULT_FROM_WIN32(ERROR_CANT_ACCESS_FILE);

// Opens the entry itself, a link as a link.
constexpr ULONG kOpenItself = kFileOpenReparsePoint | kFileSynchronousIoNonAlert | kFileOpenForBackupIntent;
constexpr ACCESS_MASK kListingAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// A folder held open and the name it was checked under. A folder reached by
// path spells its whole reached name; one entered from a held folder spells
// only its own name and points to the folder above, so that a deep tree
// does not keep every folder's whole name.
struct HeldFolder {
  UniqueFile handle;
  const HeldFolder* parent = nullptr;  // null: name is the whole reached name
  WideString name;
  uint64_t fileId = 0;
  DWORD attributes = 0;
};

// What one query tells of an opened entry, the name it reached included.
class OpenedFacts {
 public:
  NTSTATUS Read(HANDLE entry);
  const NtAllInformation& Info() const { return *static_cast<const NtAllInformation*>(block_.get()); }
  const wchar_t* Name() const { return Info().fileName; }
  size_t NameLength() const { return Info().fileNameLength / sizeof(wchar_t); }
  uint64_t FileId() const { return static_cast<uint64_t>(Info().indexNumber.QuadPart); }
  bool IsFolder() const { return Info().directory != 0; }

 private:
  UniqueHeapBlock block_;
  ULONG bytes_ = 2048;
};

// NtCreateFile of the entry of exactly that name relative to folder (null:
// name is a whole NT path). It never waits for an oplock: an entry whose
// oplock is being broken counts as in use (kStatusSharingViolation).
NTSTATUS OpenRelative(HANDLE folder, const wchar_t* name, size_t length, ACCESS_MASK access, ULONG options,
                      UniqueFile* opened, ULONG share = kShareAll, ULONG disposition = kFileOpen);
// A failed open as a result: ERROR_FILE_NOT_FOUND for any name not found,
// ERROR_DELETE_PENDING for an entry whose deletion is under way.
HRESULT FromOpenStatus(NTSTATUS status);

// What an open is to find: which name in which checked folder, the id its
// listing gave (unless any id will do: it was opened by name alone), and
// whether it was listed as a link.
struct ExpectedEntry {
  const HeldFolder* folder;
  const wchar_t* name;
  size_t length;
  uint64_t fileId;
  bool anyId;
  bool listedAsLink;
};
ExpectedEntry ExpectedFromListing(const HeldFolder& folder, const ListedEntry& listed);

// The verdict on an opened entry: its own, a link opened as itself, or
// neither. Reads facts of the entry first; one that cannot be read is not
// its own.
enum class Verdict { kOwn, kLinkItself, kNotOwn };
Verdict CheckOpened(HANDLE entry, OpenedFacts& facts, const ExpectedEntry& expected);

// The one checked open: the expected entry opened relative to its folder
// with access and options, its facts read, and checked. S_OK when it is its
// own; the open's failure as FromOpenStatus gives it; kEntryNotOwn else.
HRESULT OpenOwn(const ExpectedEntry& expected, ACCESS_MASK access, ULONG options, UniqueFile* opened,
                OpenedFacts& facts, ULONG share = kShareAll);

// Whether the opened entry is a link: a reparse point whose own tag is a
// name surrogate or cannot be read.
bool IsOpenedLink(HANDLE entry, DWORD attributes);

// Whether reported, the name a child's handle reached, is folder's checked
// name, a backslash and the child's name (letter case aside, and Wine's
// trailing dots and blanks).
bool ReachedAsChildOf(const wchar_t* reported, size_t reportedLength, const HeldFolder& folder, const wchar_t* name,
                      size_t nameLength);

// How a folder opened below another keeps its name: its own name after the
// folder above (which then must outlive it), or its whole reached name.
enum class NameKept { kBelowParent, kWhole };

// Opens the listed child folder of parent with access and checks it
// (kEntryNotOwn when it fails); a link or a file is never opened as a
// folder.
HRESULT OpenCheckedChild(const HeldFolder& parent, const ListedEntry& listed, ACCESS_MASK access, NameKept kept,
                         HeldFolder* child);

// The child folder of exactly that name, opened for listing and checked.
// ERROR_FILE_NOT_FOUND when nothing is there (the one answer that means
// nothing lies beyond), ERROR_DIRECTORY for a file, kEntryNotOwn for a link
// or a changed entry, else the failure met.
HRESULT OpenChildFolder(const HeldFolder& parent, const wchar_t* name, size_t length, NameKept kept,
                        HeldFolder* child);

}  // namespace tmn
