// Forced deletion of a directory tree: a worker thread walks the tree and
// queues every entry after everything beneath it, while the calling thread
// deletes what was queued, in batches every 500 ms while the walk goes on
// and at once when it has ended, repairing access where a removal is
// refused and trying once more. Links (junctions, symbolic links) are
// removed as links: never entered, repaired or changed.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/array.h"
#include "base/unique.h"
#include "base/wide_string.h"

namespace tmn {

constexpr uint32_t ITEM_DIRECTORY = 0x1;
constexpr uint32_t ITEM_LINK = 0x2;  // removed as a link, never repaired
constexpr uint32_t ITEM_WALK_FAILED = 0x01000000;
constexpr uint32_t ITEM_END = 0x10000000;

// The longest the deleter waits for more entries while the walk goes on.
constexpr DWORD kDeleteCadenceMs = 500;
// How many queued entries wake the deleter before its wait is over, so
// that it need not idle while the walker fills the queue.
constexpr size_t kWakeBatch = 64;

struct DeleteItem {
  uint32_t flags = 0;
  WideString path;  // empty on the end marker
  DWORD attributes = 0;  // as listed; the root's as read before the walk
};

struct DeleteContext {
  WideString root;
  DWORD rootAttributes = 0;
  CriticalSection lock;
  Queue<DeleteItem> queue;
  // Set by the walker when the queue reaches kWakeBatch entries; null when
  // it could not be made (the deleter then keeps to its cadence).
  UniqueHandle batchReady;
  // Set when the end marker itself could not be queued for want of memory,
  // so that the deleter still learns that the walk is over.
  uint32_t unqueuedEnd = 0;
};

// What PowerDeleteDir does with the path it is given: the tree goes, with
// the repair rules of the running Windows version.
HRESULT DeleteDirectoryTree(const WideString& path);

// S_OK when the walk went through (single entries that resist deletion do
// not change it), E_UNEXPECTED when the root is not a directory or a
// directory could not be listed, E_INVALIDARG for a path that is empty,
// holds wildcards, or names a volume or share root (nothing is deleted).
// A root that is itself a link is removed as a link, and nothing else.
HRESULT ForceDeleteTree(const WideString& path, bool preVista);

// Whether a listed entry is a link: a reparse point whose tag is a name
// surrogate (junction, symbolic link) or cannot be read. Other reparse
// points (deduplicated or compressed files) are ordinary entries.
bool IsLinkEntry(DWORD attributes, DWORD reparseTag);

// The walker: queues the tree below directory and then directory itself.
// S_OK, or the failure of the first directory that could not be listed;
// that directory and those above it are then not queued.
HRESULT EnqueueTree(const WideString& directory, DWORD attributes, DeleteContext& context);

DWORD WINAPI WalkerThread(void* context);

// Handles one queued item on the deleting thread; false on the end marker.
// A repair never reaches above root.
bool DeleteQueuedItem(const DeleteItem& item, bool preVista, const WideString& root);

}  // namespace tmn
