// The one walk of a folder tree: depth first, every folder listed through
// its own handle, each folder below entered as the caller decides and
// listed before the rest of its folder, whose batch moves aside first, so
// that the listings share one buffer. A loop over a stack of open levels on
// the heap, so that a deep tree does not grow the thread's stack. Links are
// handed over as entries, never entered. The tree deleter and the
// cleanup's size walk walk this way.
#pragma once

#include <windows.h>

#include "fs/folder_listing.h"

namespace tmn {

// What the caller does on the way. folder is what the caller made of a
// folder it entered (or the root); every call but leave goes on with S_OK,
// or ends the walk with its failure.
struct TreeWalk {
  void* context;
  // A listed entry that is not a folder to enter: a file, or a link.
  HRESULT (*entry)(void* context, void* folder, const ListedEntry& listed);
  // A listed folder that is no link: *child and *handle are set when it is
  // to be listed next, its handle owned by the child.
  HRESULT (*enter)(void* context, void* folder, const ListedEntry& listed, void** child, HANDLE* handle);
  // Everything below folder was handed over: its listing ended (S_FALSE) or
  // failed. Called once for every folder entered, and for the root.
  HRESULT (*leave)(void* context, void* folder, HRESULT listing);
};

// Walks the tree below root, listed through rootHandle. S_OK, or the
// failure that ended it.
HRESULT WalkTree(void* root, HANDLE rootHandle, const TreeWalk& walk);

}  // namespace tmn
