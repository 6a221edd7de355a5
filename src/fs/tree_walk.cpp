#include "fs/tree_walk.h"

#include "base/heap.h"
#include "fs/link_checks.h"

namespace tmn {

namespace {

// A folder being listed, and the level above it.
struct OpenLevel {
  OpenLevel(void* entered, HANDLE handle, ListingBuffer* buffer, OpenLevel* up)
      : folder(entered), listing(handle, buffer), above(up) {}
  void* folder;
  FolderListing listing;
  OpenLevel* above;
};

}  // namespace

HRESULT WalkTree(void* root, HANDLE rootHandle, const TreeWalk& walk) {
  ListingBuffer buffer;
  OpenLevel* level = HeapNew<OpenLevel>(root, rootHandle, &buffer, nullptr);
  HRESULT result = level != nullptr ? S_OK : E_OUTOFMEMORY;
  if (FAILED(result)) return walk.leave(walk.context, root, result);
  while (SUCCEEDED(result) && level != nullptr) {
    ListedEntry listed;
    const HRESULT next = level->listing.Next(&listed);
    if (next != S_OK) {
      OpenLevel* done = level;
      level = done->above;
      result = walk.leave(walk.context, done->folder, next);
      HeapDelete(done);
    } else if ((listed.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
               IsLinkEntry(listed.attributes, listed.reparseTag)) {
      result = walk.entry(walk.context, level->folder, listed);
    } else {
      // The folder below fills the shared buffer next: what this one had
      // left of its batch moves aside.
      void* child = nullptr;
      HANDLE handle = nullptr;
      result = level->listing.Park();
      if (SUCCEEDED(result)) result = walk.enter(walk.context, level->folder, listed, &child, &handle);
      OpenLevel* below = child != nullptr ? HeapNew<OpenLevel>(child, handle, &buffer, level) : nullptr;
      if (below != nullptr) level = below;
      if (child != nullptr && below == nullptr) {
        result = E_OUTOFMEMORY;
        walk.leave(walk.context, child, result);
      }
    }
  }
  // A walk that ended early leaves the folders still open with its failure.
  while (level != nullptr) {
    OpenLevel* done = level;
    level = done->above;
    walk.leave(walk.context, done->folder, result);
    HeapDelete(done);
  }
  return result;
}

}  // namespace tmn
