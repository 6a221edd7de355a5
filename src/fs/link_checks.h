// Whether an entry the plug-in makes and then rewrites, deletes or writes
// is still its own: no link (a junction, a symbolic link, a mount point)
// and, for a file, no second name (a hard link). Elevated installers work
// in folders every user may write; a link left there would lead their
// writes and deletes to files that are not the plug-in's.
#pragma once

#include <windows.h>

#include "base/unique.h"

namespace tmn {

// The one rule of what counts as a link, for an entry as its folder lists
// it or as its own handle shows it: a reparse point whose tag is a name
// surrogate (junction, symbolic link) or cannot be read (tag 0, as Wine
// lists a Unix link to a folder). Other reparse points (deduplicated or
// compressed files) are ordinary entries.
bool IsLinkEntry(DWORD attributes, DWORD reparseTag);

// The reparse tag of an opened entry with these attributes, read through
// its handle: 0 for no reparse point, or for a tag that cannot be read.
DWORD ReparseTagOf(HANDLE entry, DWORD attributes);

// What is known of one entry, read without following it.
struct EntryFacts {
  DWORD listedAttributes;  // as its folder lists it (GetFileAttributesW)
  DWORD openedAttributes;  // as the handle opened on it reports
  DWORD linkCount;         // the names a file has
  // Whether the file the handle reached carries the last name of the path.
  // Wine follows a Unix link to a file and shows no reparse point for it:
  // only the name of what it reached shows where it led.
  bool reachedByItsName;
  DWORD openedReparseTag = 0;  // as the handle reports it, for a reparse point
};

// The decision: a link as IsLinkEntry tells it from the opened entry, a
// reparse point listed that opened as none (a link that was followed), a
// file with more than one name, an entry reached under another name, or
// attributes that could not be read.
bool IsLinkOrMultiLinked(const EntryFacts& facts);

// Whether reached, the name of an opened file (any form, its last
// component counts), ends with the same last name as path, letter case
// aside. Trailing separators of path are left out.
bool ReachedByLastName(const wchar_t* reached, size_t reachedLength, const wchar_t* path);

// Opens the entry at path itself, a file or, when folder is true, a folder:
// a link is opened, never followed. Reading and writing are shared, deleting is not: while the
// handle is held, the entry can be neither deleted nor renamed, so nothing
// can take its place.
UniqueFile OpenEntryItself(const wchar_t* path, DWORD access, DWORD disposition, bool folder);

// Renames the opened entry to target (a full path), replacing what is
// there only when replace is true: the entry the handle holds moves,
// whatever stands at its old name by now. The handle needs DELETE access.
HRESULT RenameOpenedEntry(HANDLE entry, const wchar_t* target, bool replace);

// Reads the facts of the opened entry at path. False when they cannot be
// read at all.
bool ReadEntryFacts(HANDLE entry, const wchar_t* path, EntryFacts* facts);

// Whether the opened entry at path is a link or a file of several names,
// or cannot be examined.
bool IsLinkOrMultiLinked(HANDLE entry, const wchar_t* path);

// The same for whatever is at path; false when nothing is there.
bool IsLinkOrMultiLinked(const wchar_t* path);

}  // namespace tmn
