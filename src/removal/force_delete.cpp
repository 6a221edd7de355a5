#include "removal/force_delete.h"

#include <utility>

#include "base/result.h"
#include "base/windows_version.h"
#include "fs/file_system_calls.h"
#include "fs/path_operations.h"
#include "security/access_repair.h"

namespace tmn {

namespace {

// A directory whose listing is open: the walk keeps one per level, so it
// needs no recursion and no deep stack, whatever the depth of the tree.
struct OpenListing {
  WideString directory;
  DWORD attributes;
  UniqueFind find;
};

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

bool HasWildcard(const wchar_t* path) {
  for (const wchar_t* c = SkipPathPrefix(path); *c != L'\0'; ++c)
    if (*c == L'*' || *c == L'?') return true;
  return false;
}

// "%s\%s"
bool JoinChild(const WideString& directory, const wchar_t* name, WideString* child) {
  return child->Assign(directory) && child->Append(L'\\') && child->Append(name);
}

HRESULT QueueItem(DeleteContext& context, uint32_t flags, WideString&& path, DWORD attributes) {
  DeleteItem item;
  item.flags = flags;
  item.path = std::move(path);
  item.attributes = attributes;
  CriticalSectionLock lock(context.lock);
  if (!context.queue.PushBack(std::move(item))) return E_OUTOFMEMORY;
  // Once per batch, not per entry: the deleter empties the whole queue.
  if (context.queue.Size() == kWakeBatch && context.batchReady) ::SetEvent(context.batchReady.get());
  return S_OK;
}

// Opens the listing of directory ("%s\*.*"); data receives its first entry.
HRESULT OpenListingOf(WideString&& directory, DWORD attributes, WIN32_FIND_DATAW* data,
                      Array<OpenListing>& open) {
  WideString pattern;
  if (!JoinChild(directory, L"*.*", &pattern)) return E_OUTOFMEMORY;
  UniqueFind find(g_fileSystem.findFirstFile(pattern.Get(), data));
  if (!find) return HResultFromLastError();
  OpenListing listing{std::move(directory), attributes, std::move(find)};
  return open.Push(std::move(listing)) ? S_OK : E_OUTOFMEMORY;
}

// The root's own entry, as its parent would list it: its attributes and,
// for a reparse point, its tag. The name leaves out trailing separators,
// through which the lookup would follow a link to its target.
HRESULT ReadRootEntry(const WideString& root, WideString* name, WIN32_FIND_DATAW* data) {
  if (!name->Assign(root)) return E_OUTOFMEMORY;
  while (name->Length() > 1 && (name->EndsWith(L'\\') || name->EndsWith(L'/'))) name->Truncate(name->Length() - 1);
  UniqueFind find(g_fileSystem.findFirstFile(name->Get(), data));
  return find ? S_OK : HResultFromLastError();
}

// Moves what the walker queued into the batch. Returns the end marker's
// flags when the walker ended without being able to queue it.
uint32_t DrainQueue(DeleteContext& context, Array<DeleteItem>& batch) {
  CriticalSectionLock lock(context.lock);
  while (!context.queue.IsEmpty()) {
    // With no room in the batch, the rest waits for the next cycle.
    if (!batch.Push(std::move(context.queue.Front()))) return 0;
    context.queue.DropFront();
  }
  return context.unqueuedEnd;
}

}  // namespace

bool IsLinkEntry(DWORD attributes, DWORD reparseTag) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  // Tag 0 is no tag at all: Wine reports it for a Unix symbolic link.
  return reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag);
}

HRESULT EnqueueTree(const WideString& directory, DWORD attributes, DeleteContext& context) {
  WideString root;
  if (!root.Assign(directory)) return E_OUTOFMEMORY;
  WIN32_FIND_DATAW data;
  Array<OpenListing> open;
  RETURN_IF_FAILED(OpenListingOf(std::move(root), attributes, &data, open));
  bool haveEntry = true;
  while (!open.IsEmpty()) {
    if (!haveEntry) {
      // Everything beneath this directory is queued; the directory follows.
      WideString finished = std::move(open.Back().directory);
      const DWORD finishedAttributes = open.Back().attributes;
      open.PopBack();
      RETURN_IF_FAILED(QueueItem(context, ITEM_DIRECTORY, std::move(finished), finishedAttributes));
      if (open.IsEmpty()) break;
      haveEntry = g_fileSystem.findNextFile(open.Back().find.get(), &data) != FALSE;
      continue;
    }
    if (!IsDotOrDotDot(data.cFileName)) {
      WideString child;
      if (!JoinChild(open.Back().directory, data.cFileName, &child)) return E_OUTOFMEMORY;
      const DWORD childAttributes = data.dwFileAttributes;
      const bool isDirectory = (childAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      const bool isLink = IsLinkEntry(childAttributes, data.dwReserved0);
      if (isDirectory && !isLink) {
        // Descend at once, before the rest of this directory is listed.
        RETURN_IF_FAILED(OpenListingOf(std::move(child), childAttributes, &data, open));
        continue;
      }
      // A link is queued as an entry of its own, so only the link goes;
      // what it points to is never entered.
      const uint32_t flags = (isDirectory ? ITEM_DIRECTORY : 0) | (isLink ? ITEM_LINK : 0);
      RETURN_IF_FAILED(QueueItem(context, flags, std::move(child), childAttributes));
    }
    haveEntry = g_fileSystem.findNextFile(open.Back().find.get(), &data) != FALSE;
  }
  return S_OK;
}

DWORD WINAPI WalkerThread(void* parameter) {
  DeleteContext& context = *static_cast<DeleteContext*>(parameter);
  const HRESULT walked = EnqueueTree(context.root, context.rootAttributes, context);
  DeleteItem end;
  end.flags = FAILED(walked) ? ITEM_END | ITEM_WALK_FAILED : ITEM_END;
  const uint32_t flags = end.flags;
  CriticalSectionLock lock(context.lock);
  if (!context.queue.PushBack(std::move(end))) context.unqueuedEnd = flags;
  return 0;
}

bool DeleteQueuedItem(const DeleteItem& item, bool preVista, const WideString& root) {
  if (item.flags & ITEM_END) return false;
  const wchar_t* path = item.path.Get();
  const bool isDirectory = (item.flags & ITEM_DIRECTORY) != 0;
  if (item.flags & ITEM_LINK) {
    // Repairs and attribute changes would reach through a link to its
    // target, outside the tree: the link itself is removed, once.
    if (isDirectory)
      g_fileSystem.removeDirectory(path);
    else
      g_fileSystem.deleteFile(path);
    return true;
  }
  if (item.attributes & FILE_ATTRIBUTE_READONLY) {
    const DWORD cleared = item.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (!g_fileSystem.setFileAttributes(path, cleared) && preVista && RepairAccess(item.path, root))
      g_fileSystem.setFileAttributes(path, cleared);
  }
  if (isDirectory) {
    if (!g_fileSystem.removeDirectory(path) && RepairAccess(item.path, root)) g_fileSystem.removeDirectory(path);
  } else if (!g_fileSystem.deleteFile(path) && preVista && RepairAccess(item.path, root)) {
    g_fileSystem.deleteFile(path);
  }
  return true;
}

HRESULT ForceDeleteTree(const WideString& path, bool preVista) {
  // An installer script that builds a path from an empty variable must not
  // wipe a disk; a pattern would name other entries than the one meant.
  if (path.IsEmpty() || HasWildcard(path.Get()) || ResolvesToVolumeOrShareRoot(path)) return E_INVALIDARG;
  DeleteItem rootItem;
  WIN32_FIND_DATAW rootEntry;
  if (FAILED(ReadRootEntry(path, &rootItem.path, &rootEntry)) ||
      (rootEntry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return E_UNEXPECTED;
  if (IsLinkEntry(rootEntry.dwFileAttributes, rootEntry.dwReserved0)) {
    rootItem.flags = ITEM_DIRECTORY | ITEM_LINK;
    DeleteQueuedItem(rootItem, preVista, path);
    return S_OK;
  }

  DeleteContext context;
  if (!context.root.Assign(path)) return E_OUTOFMEMORY;
  context.rootAttributes = rootEntry.dwFileAttributes;
  context.batchReady.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  UniqueHandle walker(::CreateThread(nullptr, 0, WalkerThread, &context, 0, nullptr));
  if (!walker) return HResultFromLastError();

  Array<DeleteItem> batch;
  uint32_t endFlags = 0;
  while (endFlags == 0) {
    endFlags = DrainQueue(context, batch);
    for (const DeleteItem& item : batch) {
      if (!DeleteQueuedItem(item, preVista, context.root)) {
        endFlags = item.flags;
        break;
      }
    }
    batch.Clear();
    // While the walk goes on, the next batch comes after the cadence, or
    // sooner when a batch is waiting; once the walker has ended, its last
    // entries are deleted at once.
    if (endFlags == 0) {
      const HANDLE wakes[2] = {walker.get(), context.batchReady.get()};
      ::WaitForMultipleObjects(context.batchReady ? 2 : 1, wakes, FALSE, kDeleteCadenceMs);
    }
  }
  // The plug-in may be unloaded as soon as the export returns: the walker
  // must be gone by then.
  ::WaitForSingleObject(walker.get(), INFINITE);
  return (endFlags & ITEM_WALK_FAILED) ? E_UNEXPECTED : S_OK;
}

HRESULT DeleteDirectoryTree(const WideString& path) { return ForceDeleteTree(path, IsPreVistaWindows()); }

}  // namespace tmn
