// The size walk of the download cleanup: a folder tree listed through
// handles, each folder opened and checked relative to the folder above it,
// so that no link (however late it was planted) leads the walk outside.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/wide_string.h"

namespace tmn {

// Bytes of the files in folder, and with recursive of the files in every
// folder below it that is no link, depth first; 0 when folder cannot be
// opened as itself. With trace, writes "First file name is <name>" for the
// first entry of each listing and "Next file name is <name>" for every
// entry, "." and ".." included, each ended by "\n", to standard output in
// UTF-8.
uint64_t WalkFolder(const WideString& folder, bool recursive, bool trace);

}  // namespace tmn
