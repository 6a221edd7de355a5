// Forced deletion of a directory tree (PowerDeleteDir): the tree deleter of
// fs/ lists the tree on a worker thread while the calling thread deletes,
// each entry through a checked handle. Where a step is refused for access,
// ownership and access are repaired on the entry's own handle and the step
// is tried once more: for folders always, for files and attribute changes
// only before Windows 6. Links are removed as links where the platform
// opens them as themselves, otherwise left; never entered, repaired or
// changed. A root reached through a link that anyone but the system's
// writers may change is refused whole, with a line in the statistic log
// that names the link.
#pragma once

#include <windows.h>

#include "base/wide_string.h"
#include "fs/tree_delete.h"

namespace tmn {

// What PowerDeleteDir does with the path it is given: the tree goes, with
// the repair rules of the running Windows version.
HRESULT DeleteDirectoryTree(const WideString& path);

// S_OK when the walk went through (single entries that resist deletion do
// not change it); E_UNEXPECTED when the root is missing, not a folder, not
// its own (a link left in place), reached through a link no one but the
// system's writers could have aimed (nothing is deleted), or when a folder
// below it could not be entered or listed (it and those above it stay, the
// rest goes); E_INVALIDARG for a path that is empty, not fully qualified
// ("\x", "x" and "C:x" lead wherever the installer stands), holds
// wildcards, or names a volume or share root, or whose last name is "." or
// ".." (nothing is deleted); the walker thread's own error when it cannot
// be started. A root that is itself a link is removed as a link, or left.
HRESULT ForceDeleteTree(const WideString& path, bool preVista);

// Whether a refused step is repaired and tried again.
bool RepairsRefusedStep(RefusedStep step, bool preVista);

}  // namespace tmn
