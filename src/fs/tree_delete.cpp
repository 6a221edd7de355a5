#include "fs/tree_delete.h"

#include <utility>

#include "base/array.h"
#include "base/heap.h"
#include "base/result.h"
#include "base/unique.h"
#include "fs/checked_open.h"
#include "fs/entry_delete.h"
#include "fs/file_system_calls.h"
#include "fs/folder_by_path.h"
#include "fs/folder_listing.h"
#include "fs/link_checks.h"
#include "fs/tree_walk.h"

namespace tmn {

namespace {

// Held while a folder is listed, so that the same handle removes it.
constexpr ACCESS_MASK kFolderAccess = kListingAccess | DELETE;

// One folder of the tree, held open from its listing until it is removed,
// and freed then: the folders alive at once are those the walk has open and
// those queued but not yet removed, however large the tree.
struct TreeFolder {
  HeldFolder held;              // held.parent: the folder that holds it
  TreeFolder* above = nullptr;  // null for the root
  bool heldForDelete = false;   // the handle carries DELETE
  volatile LONG somethingStayed = 0;
  TreeFolder* previousAlive = nullptr;
  TreeFolder* nextAlive = nullptr;
};

constexpr uint32_t kItemFile = 0;
constexpr uint32_t kItemFolder = 0x1;  // the folder itself, after its contents
constexpr uint32_t kItemLink = 0x2;
constexpr uint32_t kItemWalkFailed = 0x01000000;
constexpr uint32_t kItemEnd = 0x10000000;

struct TreeItem {
  uint32_t flags = 0;
  TreeFolder* folder = nullptr;  // where the entry lies; for kItemFolder the folder itself
  WideString name;
  uint64_t fileId = 0;
  bool isFolder = false;
};

// The longest the deleter waits for more entries while the walk goes on,
// and how many queued entries wake it sooner.
constexpr DWORD kDeleteCadenceMs = 500;
constexpr size_t kWakeBatch = 64;
// How many entries the walker may list ahead of the deleter: beyond it, it
// waits for the deleter to take them, so a tree of any size costs the
// same memory. Each queued folder is held open, listed, and Wine keeps a
// copy of each listing until its handle closes: the bound is kept low.
constexpr size_t kQueueLimit = 512;

struct TreeDeletion {
  TreeFolder* root = nullptr;
  CriticalSection lock;  // the queue and the list of folders alive
  Queue<TreeItem> queue;
  UniqueHandle batchReady;
  UniqueHandle roomReady;  // set by the deleter each time it empties the queue
  uint32_t unqueuedEnd = 0;
  TreeFolder* alive = nullptr;
  volatile LONG left = 0;        // something stayed
  volatile LONG notEntered = 0;  // a folder could not be entered or listed

  ~TreeDeletion() {
    while (alive != nullptr) {
      TreeFolder* folder = alive;
      alive = folder->nextAlive;
      HeapDelete(folder);
    }
  }
};

void NoteStayed(TreeDeletion& deletion, TreeFolder* holder) {
  ::InterlockedExchange(&deletion.left, 1);
  if (holder != nullptr) ::InterlockedExchange(&holder->somethingStayed, 1);
}

TreeFolder* NewFolder(TreeDeletion& deletion, TreeFolder* above) {
  TreeFolder* folder = HeapNew<TreeFolder>();
  if (folder == nullptr) return nullptr;
  folder->above = above;
  CriticalSectionLock lock(deletion.lock);
  folder->nextAlive = deletion.alive;
  if (deletion.alive != nullptr) deletion.alive->previousAlive = folder;
  deletion.alive = folder;
  return folder;
}

void FreeFolder(TreeDeletion& deletion, TreeFolder* folder) {
  {
    CriticalSectionLock lock(deletion.lock);
    if (folder->previousAlive != nullptr) folder->previousAlive->nextAlive = folder->nextAlive;
    else deletion.alive = folder->nextAlive;
    if (folder->nextAlive != nullptr) folder->nextAlive->previousAlive = folder->previousAlive;
  }
  HeapDelete(folder);
}

HRESULT QueueItem(TreeDeletion& deletion, TreeItem&& item) {
  bool full;
  {
    CriticalSectionLock lock(deletion.lock);
    if (!deletion.queue.PushBack(std::move(item))) return E_OUTOFMEMORY;
    // Once per batch, not per entry: the deleter empties the whole queue.
    if (deletion.queue.Size() == kWakeBatch && deletion.batchReady) ::SetEvent(deletion.batchReady.get());
    full = deletion.queue.Size() >= kQueueLimit;
  }
  // A signal left from an earlier drain may wake the walker early: it looks
  // again before it goes on.
  while (full && deletion.roomReady) {
    ::WaitForSingleObject(deletion.roomReady.get(), INFINITE);
    CriticalSectionLock lock(deletion.lock);
    full = deletion.queue.Size() >= kQueueLimit;
  }
  return S_OK;
}

// Opens the listed child folder of parent to be listed and removed through
// the same handle, or, where it refuses DELETE (in use as a process's
// current folder, or refused to this user), to be listed alone: what it
// holds goes, and its own removal is tried later.
HRESULT OpenTreeFolder(const HeldFolder& parent, const ListedEntry& listed, TreeFolder* folder) {
  HRESULT opened = OpenCheckedChild(parent, listed, kFolderAccess, NameKept::kBelowParent, &folder->held);
  folder->heldForDelete = SUCCEEDED(opened);
  if (opened == E_ACCESSDENIED || opened == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION))
    opened = OpenCheckedChild(parent, listed, kListingAccess, NameKept::kBelowParent, &folder->held);
  return opened;
}

// Whether folder still lists the entry, as a fresh listing through a handle
// of its own shows it (the one it is listed through is in the middle of
// its listing). Yes when that cannot be told.
bool StillListed(const HeldFolder& folder, const ListedEntry& listed) {
  UniqueFile fresh;
  if (OpenRelative(folder.handle.get(), L"", 0, kListingAccess, kOpenItself | kFileDirectoryFile, &fresh) < 0)
    return true;
  ListingBuffer buffer;
  ListedEntry found;
  const HRESULT looked = LookIn(fresh.get(), &buffer, listed.name, listed.nameLength, &found);
  return looked != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) && (FAILED(looked) || found.fileId == listed.fileId);
}

// The walk's calls: each entry is queued, every folder after everything
// beneath it.
HRESULT QueueEntry(void* context, void* folder, const ListedEntry& listed) {
  TreeItem item;
  item.flags = IsLinkEntry(listed.attributes, listed.reparseTag) ? kItemLink : kItemFile;
  item.folder = static_cast<TreeFolder*>(folder);
  item.fileId = listed.fileId;
  item.isFolder = (listed.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!item.name.Assign(listed.name, listed.nameLength)) return E_OUTOFMEMORY;
  return QueueItem(*static_cast<TreeDeletion*>(context), std::move(item));
}

// Opens a listed folder below and checks it; one that cannot be entered
// stays with what it holds, and the rest of the tree goes on.
HRESULT EnterFolder(void* context, void* above, const ListedEntry& listed, void** child, HANDLE* handle) {
  TreeDeletion& deletion = *static_cast<TreeDeletion*>(context);
  TreeFolder* parent = static_cast<TreeFolder*>(above);
  TreeFolder* folder = NewFolder(deletion, parent);
  if (folder == nullptr) return E_OUTOFMEMORY;
  const HRESULT opened = OpenTreeFolder(parent->held, listed, folder);
  if (SUCCEEDED(opened)) {
    *child = folder;
    *handle = folder->held.handle.get();
    return S_OK;
  }
  FreeFolder(deletion, folder);
  if (opened == E_OUTOFMEMORY) return opened;
  // Going already: nothing of it is left to delete. Not found right after
  // its listing, it is gone only when its folder no longer lists it (Wine
  // finds no folder past the longest path it opens).
  if (opened == HRESULT_FROM_WIN32(ERROR_DELETE_PENDING) ||
      (opened == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) && !StillListed(parent->held, listed)))
    return S_OK;
  // A link or another entry swapped in stays; so does a folder that cannot
  // be entered, which counts against the walk.
  if (opened != kEntryNotOwn) ::InterlockedExchange(&deletion.notEntered, 1);
  NoteStayed(deletion, parent);
  return S_OK;
}

// One that could not be listed to its end stays.
HRESULT QueueFolderAfterItsContents(void* context, void* folder, HRESULT listing) {
  TreeDeletion& deletion = *static_cast<TreeDeletion*>(context);
  TreeFolder* done = static_cast<TreeFolder*>(folder);
  if (FAILED(listing)) {
    ::InterlockedExchange(&deletion.notEntered, 1);
    NoteStayed(deletion, done);
  }
  TreeItem item;
  item.flags = kItemFolder;
  item.folder = done;
  return QueueItem(deletion, std::move(item));
}

DWORD WINAPI WalkerThread(void* parameter) {
  TreeDeletion& deletion = *static_cast<TreeDeletion*>(parameter);
  const TreeWalk walk{&deletion, QueueEntry, EnterFolder, QueueFolderAfterItsContents};
  const HRESULT walked = WalkTree(deletion.root, deletion.root->held.handle.get(), walk);
  TreeItem end;
  end.flags = FAILED(walked) ? kItemEnd | kItemWalkFailed : kItemEnd;
  const uint32_t flags = end.flags;
  CriticalSectionLock lock(deletion.lock);
  if (!deletion.queue.PushBack(std::move(end))) deletion.unqueuedEnd = flags;
  return 0;
}

// Handles one queued item on the deleting thread; false on the end marker.
bool DeleteQueuedItem(TreeDeletion& deletion, TreeItem& item, DeletionRun& run) {
  if (item.flags & kItemEnd) return false;
  TreeFolder* folder = item.folder;
  if (item.flags & kItemFolder) {
    const HeldFolder& held = folder->held;
    const EntryToDelete entry{{held.parent, held.name.Get(), held.name.Length(), held.fileId, false, false},
                              EntryKind::kFolder,
                              folder->somethingStayed == 0};
    const HRESULT removed = DeleteEntry(entry, run, &held, folder->heldForDelete);
    if (FAILED(removed) && removed != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) NoteStayed(deletion, folder->above);
    FreeFolder(deletion, folder);
    return true;
  }
  const bool link = (item.flags & kItemLink) != 0;
  const EntryToDelete entry{{&folder->held, item.name.Get(), item.name.Length(), item.fileId, false, link},
                            item.isFolder ? EntryKind::kFolder : EntryKind::kFile,
                            false};
  const HRESULT deleted = DeleteEntry(entry, run);
  if (FAILED(deleted) && deleted != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) NoteStayed(deletion, folder);
  return true;
}

// Takes what the walker queued as the batch, in one swap of the queues.
// Returns the end marker's flags when the walker ended without being able
// to queue it.
uint32_t DrainQueue(TreeDeletion& deletion, Queue<TreeItem>& batch) {
  CriticalSectionLock lock(deletion.lock);
  batch.Swap(deletion.queue);
  if (deletion.roomReady) ::SetEvent(deletion.roomReady.get());
  return deletion.unqueuedEnd;
}

// Deletes the checked folder root, below parent as found, with everything
// below it.
HRESULT DeleteReachedTree(const HeldFolder& parent, const FoundEntry& found, const TreeDeleteOptions& options) {
  TreeDeletion deletion;
  deletion.root = NewFolder(deletion, nullptr);
  if (deletion.root == nullptr) return E_OUTOFMEMORY;
  RETURN_IF_FAILED(OpenTreeFolder(parent, found.AsListed(), deletion.root));
  const uint64_t rootId = deletion.root->held.fileId;
  deletion.batchReady.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  deletion.roomReady.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  UniqueHandle walker(g_fileSystem.createThread(nullptr, 0, WalkerThread, &deletion, 0, nullptr));
  if (!walker) {
    const HRESULT error = HResultFromLastError();
    if (options.walkerError != nullptr) *options.walkerError = error;
    return error;
  }

  DeletionRun run(options.hook);
  Queue<TreeItem> batch;
  uint32_t endFlags = 0;
  while (endFlags == 0) {
    endFlags = DrainQueue(deletion, batch);
    for (; !batch.IsEmpty() && endFlags == 0; batch.DropFront())
      if (!DeleteQueuedItem(deletion, batch.Front(), run)) endFlags = batch.Front().flags;
    batch.Clear();
    // While the walk goes on, the next batch comes after the cadence, or
    // sooner when a batch is waiting; once the walker has ended, its last
    // entries are deleted at once.
    if (endFlags == 0) {
      const HANDLE wakes[2] = {walker.get(), deletion.batchReady.get()};
      ::WaitForMultipleObjects(deletion.batchReady ? 2 : 1, wakes, FALSE, kDeleteCadenceMs);
    }
  }
  // The caller may unload the module as soon as this returns: the walker
  // must be gone by then.
  ::WaitForSingleObject(walker.get(), INFINITE);
  if ((endFlags & kItemWalkFailed) || deletion.notEntered) return E_UNEXPECTED;
  if (deletion.left) return kTreeNotAllDeleted;
  return StillHolds(parent, found.name.Get(), found.name.Length(), rootId, run.facts) ? kTreeNotAllDeleted : S_OK;
}

}  // namespace

HRESULT DeleteTree(const WideString& path, const TreeDeleteOptions& options) {
  HeldFolder parent;
  FoundEntry found;
  RETURN_IF_FAILED(ReachParentOf(path, options.trust, &parent, &found, options.refusedLink));
  if (found.IsLink()) {
    DeletionRun run;
    const EntryToDelete link{{&parent, found.name.Get(), found.name.Length(), found.fileId, false, true},
                             EntryKind::kEither,
                             false};
    const HRESULT removed = DeleteEntry(link, run);
    return SUCCEEDED(removed) || removed == kEntryNotOwn ? removed : kTreeNotAllDeleted;
  }
  if (!found.IsFolder()) return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
  return DeleteReachedTree(parent, found, options);
}

}  // namespace tmn
