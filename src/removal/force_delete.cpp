#include "removal/force_delete.h"

#include <utility>

#include "base/result.h"
#include "base/windows_version.h"
#include "security/access_repair.h"
#include "fs/file_system_calls.h"

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
  return context.queue.PushBack(std::move(item)) ? S_OK : E_OUTOFMEMORY;
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

HRESULT EnqueueTree(const WideString& directory, DeleteContext& context) {
  WideString root;
  if (!root.Assign(directory)) return E_OUTOFMEMORY;
  DWORD rootAttributes = ::GetFileAttributesW(directory.Get());
  if (rootAttributes == INVALID_FILE_ATTRIBUTES) rootAttributes = 0;

  WIN32_FIND_DATAW data;
  Array<OpenListing> open;
  RETURN_IF_FAILED(OpenListingOf(std::move(root), rootAttributes, &data, open));
  bool haveEntry = true;
  while (!open.IsEmpty()) {
    if (!haveEntry) {
      // Everything beneath this directory is queued; the directory follows.
      WideString finished = std::move(open.Back().directory);
      const DWORD attributes = open.Back().attributes;
      open.PopBack();
      RETURN_IF_FAILED(QueueItem(context, ITEM_DIRECTORY, std::move(finished), attributes));
      if (open.IsEmpty()) break;
      haveEntry = g_fileSystem.findNextFile(open.Back().find.get(), &data) != FALSE;
      continue;
    }
    if (!IsDotOrDotDot(data.cFileName)) {
      WideString child;
      if (!JoinChild(open.Back().directory, data.cFileName, &child)) return E_OUTOFMEMORY;
      const DWORD attributes = data.dwFileAttributes;
      const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (directory && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        // Descend at once, before the rest of this directory is listed.
        RETURN_IF_FAILED(OpenListingOf(std::move(child), attributes, &data, open));
        continue;
      }
      // A junction or directory link is queued as a directory of its own,
      // so only the link goes; what it points to is never entered.
      RETURN_IF_FAILED(QueueItem(context, directory ? ITEM_DIRECTORY : 0, std::move(child), attributes));
    }
    haveEntry = g_fileSystem.findNextFile(open.Back().find.get(), &data) != FALSE;
  }
  return S_OK;
}

DWORD WINAPI WalkerThread(void* parameter) {
  DeleteContext& context = *static_cast<DeleteContext*>(parameter);
  const HRESULT walked = EnqueueTree(context.root, context);
  DeleteItem end;
  end.flags = FAILED(walked) ? ITEM_END | ITEM_WALK_FAILED : ITEM_END;
  const uint32_t flags = end.flags;
  CriticalSectionLock lock(context.lock);
  if (!context.queue.PushBack(std::move(end))) context.unqueuedEnd = flags;
  return 0;
}

bool DeleteQueuedItem(const DeleteItem& item, bool preVista) {
  if (item.flags & ITEM_END) return false;
  const wchar_t* path = item.path.Get();
  const bool isDirectory = (item.flags & ITEM_DIRECTORY) != 0;
  if (item.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
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
    if (!g_fileSystem.setFileAttributes(path, cleared) && preVista && RepairAccess(item.path))
      g_fileSystem.setFileAttributes(path, cleared);
  }
  if (isDirectory) {
    if (!g_fileSystem.removeDirectory(path) && RepairAccess(item.path)) g_fileSystem.removeDirectory(path);
  } else if (!g_fileSystem.deleteFile(path) && preVista && RepairAccess(item.path)) {
    g_fileSystem.deleteFile(path);
  }
  return true;
}

HRESULT ForceDeleteTree(const WideString& path, bool preVista) {
  if (path.IsEmpty()) return E_INVALIDARG;
  DeleteContext context;
  if (!context.root.Assign(path)) return E_OUTOFMEMORY;
  UniqueHandle walker(::CreateThread(nullptr, 0, WalkerThread, &context, 0, nullptr));
  if (!walker) return HResultFromLastError();

  Array<DeleteItem> batch;
  uint32_t endFlags = 0;
  while (endFlags == 0) {
    endFlags = DrainQueue(context, batch);
    for (const DeleteItem& item : batch) {
      if (!DeleteQueuedItem(item, preVista)) {
        endFlags = item.flags;
        break;
      }
    }
    batch.Clear();
    if (endFlags == 0) ::Sleep(kDeleteCadenceMs);
  }
  // The plug-in may be unloaded as soon as the export returns: the walker
  // must be gone by then.
  ::WaitForSingleObject(walker.get(), INFINITE);
  return (endFlags & ITEM_WALK_FAILED) ? E_UNEXPECTED : S_OK;
}

HRESULT DeleteDirectoryTree(const WideString& path) { return ForceDeleteTree(path, IsPreVistaWindows()); }

}  // namespace tmn
