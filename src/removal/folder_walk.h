// One walk over a folder tree that sizes it and tells whether it holds a
// link, so that it can be deleted without following one.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/wide_string.h"
#include "fs/path_operations.h"

namespace tmn {

struct FolderWalk {
  uint64_t size = 0;       // bytes of the files listed
  bool holdsLink = false;  // an entry is a reparse point: a link or junction
  bool complete = true;    // every folder below could be listed
};

// Walks folder, and with recursive every folder below it except directory
// links and junctions, depth first. With trace, writes "First file name is
// <name>" for the first entry of each listing and "Next file name is
// <name>" for every entry, each ended by "\n", to standard output in UTF-8.
FolderWalk WalkFolder(const WideString& folder, bool recursive, bool trace);

}  // namespace tmn
