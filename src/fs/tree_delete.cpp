#include "fs/tree_delete.h"

#include <utility>

#include "base/array.h"
#include "base/heap.h"
#include "base/result.h"
#include "base/unique.h"
#include "fs/checked_open.h"
#include "fs/entry_delete.h"
#include "fs/folder_by_path.h"
#include "fs/folder_listing.h"
#include "fs/link_checks.h"

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
  const RefusedDeleteHook* hook = nullptr;
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

HRESULT QueueFolder(TreeDeletion& deletion, TreeFolder* folder) {
  TreeItem item;
  item.flags = kItemFolder;
  item.folder = folder;
  return QueueItem(deletion, std::move(item));
}

// A folder of the tree open for listing.
struct OpenLevel {
  TreeFolder* folder;
  FolderListing listing;
};

// Opens the listed child folder of level's folder and checks it. A folder
// that refuses DELETE (in use as a process's current folder, or refused to
// this user) is still listed, to delete what it holds; its own removal is
// tried later. The child: null when it is not entered.
HRESULT EnterFolder(TreeDeletion& deletion, OpenLevel& level, const ListedEntry& listed, TreeFolder** child) {
  *child = nullptr;
  TreeFolder* folder = NewFolder(deletion, level.folder);
  if (folder == nullptr) return E_OUTOFMEMORY;
  const HeldFolder& holder = level.folder->held;
  HRESULT opened = OpenCheckedChild(holder, listed, kFolderAccess, NameKept::kBelowParent, &folder->held);
  folder->heldForDelete = SUCCEEDED(opened);
  if (opened == E_ACCESSDENIED || opened == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION))
    opened = OpenCheckedChild(holder, listed, kListingAccess, NameKept::kBelowParent, &folder->held);
  if (SUCCEEDED(opened)) {
    // The child fills the shared listing buffer next: what its folder had
    // left of its batch moves aside.
    const HRESULT parked = level.listing.Park();
    if (SUCCEEDED(parked)) *child = folder;
    return parked;
  }
  FreeFolder(deletion, folder);
  // Gone meanwhile, or going: nothing of it is left to delete.
  if (opened == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || opened == HRESULT_FROM_WIN32(ERROR_DELETE_PENDING))
    return S_OK;
  if (opened == E_OUTOFMEMORY) return opened;
  // A link or another entry swapped in stays; a folder that cannot be
  // entered stays with what it holds, and the rest of the tree goes on.
  if (opened != kEntryNotOwn) ::InterlockedExchange(&deletion.notEntered, 1);
  NoteStayed(deletion, level.folder);
  return S_OK;
}

// The walker: lists every folder through its handle, depth first, and
// queues each entry, every folder after everything beneath it. S_OK, or the
// failure that stopped it (memory).
HRESULT EnqueueTree(TreeDeletion& deletion) {
  ListingBuffer buffer;
  Array<OpenLevel> levels;
  if (!levels.Push(OpenLevel{deletion.root, FolderListing(deletion.root->held.handle.get(), &buffer)}))
    return E_OUTOFMEMORY;
  while (!levels.IsEmpty()) {
    OpenLevel& level = levels.Back();
    ListedEntry listed;
    const HRESULT next = level.listing.Next(&listed);
    if (next != S_OK) {
      // Everything beneath this folder is queued; the folder follows. One
      // that could not be listed to its end stays.
      if (FAILED(next)) {
        ::InterlockedExchange(&deletion.notEntered, 1);
        NoteStayed(deletion, level.folder);
      }
      TreeFolder* done = level.folder;
      levels.PopBack();
      RETURN_IF_FAILED(QueueFolder(deletion, done));
      continue;
    }
    const bool isFolder = (listed.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool isLink = IsLinkEntry(listed.attributes, listed.reparseTag);
    if (isFolder && !isLink) {
      TreeFolder* child = nullptr;
      RETURN_IF_FAILED(EnterFolder(deletion, level, listed, &child));
      if (child != nullptr &&
          !levels.Push(OpenLevel{child, FolderListing(child->held.handle.get(), &buffer)})) {
        FreeFolder(deletion, child);
        return E_OUTOFMEMORY;
      }
      continue;
    }
    TreeItem item;
    item.flags = isLink ? kItemLink : kItemFile;
    item.folder = level.folder;
    item.fileId = listed.fileId;
    item.isFolder = isFolder;
    if (!item.name.Assign(listed.name, listed.nameLength)) return E_OUTOFMEMORY;
    RETURN_IF_FAILED(QueueItem(deletion, std::move(item)));
  }
  return S_OK;
}

DWORD WINAPI WalkerThread(void* parameter) {
  TreeDeletion& deletion = *static_cast<TreeDeletion*>(parameter);
  const HRESULT walked = EnqueueTree(deletion);
  TreeItem end;
  end.flags = FAILED(walked) ? kItemEnd | kItemWalkFailed : kItemEnd;
  const uint32_t flags = end.flags;
  CriticalSectionLock lock(deletion.lock);
  if (!deletion.queue.PushBack(std::move(end))) deletion.unqueuedEnd = flags;
  return 0;
}

// Handles one queued item on the deleting thread; false on the end marker.
bool DeleteQueuedItem(TreeDeletion& deletion, TreeItem& item, OpenedFacts& facts) {
  if (item.flags & kItemEnd) return false;
  TreeFolder* folder = item.folder;
  if (item.flags & kItemFolder) {
    const HeldFolder& held = folder->held;
    const EntryToDelete entry{{held.parent, held.name.Get(), held.name.Length(), held.fileId, false, false},
                              EntryKind::kFolder,
                              folder->somethingStayed == 0};
    // A handle opened without DELETE is no use for the removal: it is
    // closed, and the removal opens its own.
    if (!folder->heldForDelete) folder->held.handle.reset();
    const HRESULT removed = DeleteEntry(entry, &folder->held.handle, facts, deletion.hook);
    if (FAILED(removed) && removed != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) NoteStayed(deletion, folder->above);
    FreeFolder(deletion, folder);
    return true;
  }
  const bool link = (item.flags & kItemLink) != 0;
  const EntryToDelete entry{{&folder->held, item.name.Get(), item.name.Length(), item.fileId, false, link},
                            item.isFolder ? EntryKind::kFolder : EntryKind::kFile,
                            false};
  const HRESULT deleted = DeleteEntry(entry, nullptr, facts, link ? nullptr : deletion.hook);
  if (FAILED(deleted) && deleted != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) NoteStayed(deletion, folder);
  return true;
}

// Moves what the walker queued into the batch. Returns the end marker's
// flags when the walker ended without being able to queue it.
uint32_t DrainQueue(TreeDeletion& deletion, Array<TreeItem>& batch) {
  CriticalSectionLock lock(deletion.lock);
  while (!deletion.queue.IsEmpty()) {
    if (!batch.Push(std::move(deletion.queue.Front()))) return 0;
    deletion.queue.DropFront();
  }
  if (deletion.roomReady) ::SetEvent(deletion.roomReady.get());
  return deletion.unqueuedEnd;
}

// Deletes the checked folder root, held open, with everything below it.
HRESULT DeleteHeldTree(const HeldFolder& parent, const FoundEntry& found, UniqueFile&& opened, bool forDelete,
                       const OpenedFacts& rootFacts, const RefusedDeleteHook* hook) {
  TreeDeletion deletion;
  deletion.hook = hook;
  deletion.root = NewFolder(deletion, nullptr);
  if (deletion.root == nullptr || !deletion.root->held.name.Assign(found.name)) return E_OUTOFMEMORY;
  HeldFolder& root = deletion.root->held;
  root.handle = std::move(opened);
  root.parent = &parent;
  root.fileId = rootFacts.FileId();
  root.attributes = rootFacts.Info().fileAttributes;
  deletion.root->heldForDelete = forDelete;
  const uint64_t rootId = root.fileId;
  deletion.batchReady.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  deletion.roomReady.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  UniqueHandle walker(::CreateThread(nullptr, 0, WalkerThread, &deletion, 0, nullptr));
  if (!walker) return HResultFromLastError();

  OpenedFacts facts;
  Array<TreeItem> batch;
  uint32_t endFlags = 0;
  while (endFlags == 0) {
    endFlags = DrainQueue(deletion, batch);
    for (TreeItem& item : batch) {
      if (!DeleteQueuedItem(deletion, item, facts)) {
        endFlags = item.flags;
        break;
      }
    }
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
  // Wine removes at close, by path: the root is gone only when its parent
  // no longer holds it.
  UniqueFile still;
  if (OpenRelative(parent.handle.get(), found.name.Get(), found.name.Length(), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                   kOpenItself, &still) >= 0 &&
      facts.Read(still.get()) >= 0 && facts.FileId() == rootId)
    return kTreeNotAllDeleted;
  return S_OK;
}

}  // namespace

HRESULT DeleteTree(const WideString& path, const RefusedDeleteHook* hook, WideString* refusedLink) {
  HeldFolder parent;
  FoundEntry found;
  RETURN_IF_FAILED(ReachParentOf(path, &parent, &found, refusedLink));
  const ExpectedEntry expected{&parent, found.name.Get(), found.name.Length(), found.fileId, false, found.IsLink()};
  UniqueFile opened;
  NTSTATUS status = OpenRelative(parent.handle.get(), expected.name, expected.length, kFolderAccess, kOpenItself,
                                 &opened);
  const bool forDelete = status >= 0;
  if (status == kStatusAccessDenied || status == kStatusSharingViolation)
    status = OpenRelative(parent.handle.get(), expected.name, expected.length, kListingAccess, kOpenItself, &opened);
  if (status < 0) return FromOpenStatus(status);
  OpenedFacts facts;
  const Verdict verdict = CheckOpened(opened.get(), facts, expected);
  if (verdict == Verdict::kNotOwn) return kEntryNotOwn;
  if (verdict == Verdict::kLinkItself) {
    const EntryToDelete link{expected, EntryKind::kEither, false};
    return SUCCEEDED(DeleteEntry(link, forDelete ? &opened : nullptr, facts, nullptr)) ? S_OK : kTreeNotAllDeleted;
  }
  if (!facts.IsFolder()) return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
  return DeleteHeldTree(parent, found, std::move(opened), forDelete, facts, hook);
}

}  // namespace tmn
