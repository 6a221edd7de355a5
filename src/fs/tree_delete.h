// Deleting a folder tree that other users can write, without following
// their links.
//
// A path that is checked and then used can be swapped in between: a folder
// renamed and a link to another folder put in its place, and a delete by
// path then empties the link's target. Win32 paths are also re-read on the
// way (a trailing dot or blank dropped, "nul" turned into a device, 260
// characters as a limit), so the entry checked need not be the one deleted.
// So the tree's root is reached once (folder_by_path.h), and nothing is
// re-resolved from a path after that: each folder is held open while its
// contents go and listed through its handle (tree_walk.h), each entry
// opened relative to that handle and checked (checked_open.h), then deleted
// through that same handle (entry_delete.h), refused steps repaired only as
// repair_policy.h allows. A child that fails a check is never entered or
// deleted through: a link the platform opened as itself is removed as a
// link, anything else stays, and the tree counts as not fully deleted.
//
// Wine deletes at close, by path, inside wineserver: a success status does
// not prove what went, so a folder's removal (refused while it holds
// anything) and a last look at the root's parent confirm it.
#pragma once

#include <windows.h>

#include "base/wide_string.h"
#include "fs/folder_by_path.h"
#include "fs/repair_policy.h"

namespace tmn {

// A tree that could not be deleted whole: something in it stayed.
constexpr HRESULT kTreeNotAllDeleted = HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY);

struct TreeDeleteOptions {
  const LinkTrust* trust = nullptr;            // who decides on links above the root
  const RefusedDeleteHook* hook = nullptr;     // the repair of refused steps
  WideString* refusedLink = nullptr;           // names the link on kLinkNotTrusted
  HRESULT* walkerError = nullptr;              // the walker's own error, when it could not start
};

// Deletes the folder named by path and everything below it: a worker thread
// lists the tree while the calling thread deletes what it listed. A folder
// that cannot be entered or listed (in use, refused, renamed away, replaced
// by a file, past the longest path the platform opens) is passed over: the
// rest goes, and it and the folders above it stay. S_OK when everything
// went; kTreeNotAllDeleted when something stayed; E_UNEXPECTED when a
// folder could not be entered or listed; a root that is a link is removed
// as a link (S_OK) or left (kTreeNotAllDeleted), kEntryNotOwn when it is not
// the root's own entry; the results of ReachParentOf for the root;
// ERROR_DIRECTORY for a root that is a file; the walker's own error (also
// in walkerError) when it cannot be started.
HRESULT DeleteTree(const WideString& path, const TreeDeleteOptions& options);

}  // namespace tmn
