#include "fs/tree_delete.h"

#include <new>
#include <utility>

#include "base/array.h"
#include "base/result.h"
#include "fs/file_system_calls.h"
#include "fs/nt_calls.h"
#include "fs/path_operations.h"

namespace tmn {

namespace {

constexpr ULONG kListingBytes = 16 * 1024;
constexpr ULONG kNoEntry = static_cast<ULONG>(-1);
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ULONG kOpenOptions = kFileOpenReparsePoint | kFileSynchronousIoNonAlert | kFileOpenForBackupIntent;
constexpr ACCESS_MASK kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
constexpr ACCESS_MASK kFileAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
constexpr ACCESS_MASK kChangeAccess = DELETE | FILE_WRITE_ATTRIBUTES;
constexpr ACCESS_MASK kRepairAccess = READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr uint64_t kAnyId = 0;

bool IsDotOrDotDot(const wchar_t* name, size_t length) {
  return (length == 1 && name[0] == L'.') || (length == 2 && name[0] == L'.' && name[1] == L'.');
}

// Without trailing dots and blanks, which Wine leaves out of the names it
// reports.
size_t WithoutTrailingDotsAndBlanks(const wchar_t* name, size_t length) {
  while (length > 0 && (name[length - 1] == L'.' || name[length - 1] == L' ')) --length;
  return length;
}

bool SameText(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
  if (aLength == bLength) {
    size_t i = 0;
    while (i < aLength && a[i] == b[i]) ++i;
    if (i == aLength) return true;
  }
  if (aLength > 0x7FFFFFFF || bLength > 0x7FFFFFFF) return false;
  return ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a, static_cast<int>(aLength), b,
                          static_cast<int>(bLength)) == CSTR_EQUAL;
}

// What one query tells of an opened entry, the name it reached included.
class OpenedFacts {
 public:
  NTSTATUS Read(HANDLE entry) {
    for (;;) {
      if (!block_) {
        block_.reset(HeapAllocate(bytes_));
        if (!block_) return static_cast<NTSTATUS>(0xC0000017);  // STATUS_NO_MEMORY
      }
      IO_STATUS_BLOCK status = {};
      const NTSTATUS read = g_fileSystem.queryInformation(entry, &status, block_.get(), bytes_, kFileAllInformation);
      if (read != kStatusBufferOverflow || bytes_ >= 0x20000) return read;
      bytes_ *= 4;
      block_.reset();
    }
  }
  const NtAllInformation& Info() const { return *static_cast<const NtAllInformation*>(block_.get()); }
  const wchar_t* Name() const { return Info().fileName; }
  size_t NameLength() const { return Info().fileNameLength / sizeof(wchar_t); }

 private:
  UniqueHeapBlock block_;
  ULONG bytes_ = 2048;
};

NTSTATUS OpenRelative(HANDLE parent, const wchar_t* name, size_t length, ACCESS_MASK access, ULONG options,
                      UniqueFile* opened) {
  if (length == 0 || length > 0x7FFF) return kStatusObjectNameNotFound;
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(name);
  text.Length = text.MaximumLength = static_cast<USHORT>(length * sizeof(wchar_t));
  OBJECT_ATTRIBUTES object = {};
  object.Length = sizeof(object);
  object.RootDirectory = parent;
  object.ObjectName = &text;
  object.Attributes = OBJ_CASE_INSENSITIVE;
  IO_STATUS_BLOCK status = {};
  HANDLE handle = INVALID_HANDLE_VALUE;
  const NTSTATUS result = g_fileSystem.openRelative(&handle, access, &object, &status, nullptr, 0, kShareAll,
                                                    kFileOpen, options, nullptr, 0);
  opened->reset(result >= 0 ? handle : INVALID_HANDLE_VALUE);
  return result;
}

HRESULT FromOpenStatus(NTSTATUS status) {
  if (status == kStatusObjectNameNotFound || status == kStatusNoSuchFile)
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  return HResultFromNtStatus(status);
}

// The verdict on an opened child: its own, a link opened as itself, or
// neither.
enum class Verdict { kOwn, kLinkItself, kNotOwn };

// Whether the opened entry is a link: a reparse point whose own tag is a
// name surrogate or cannot be read. Read only for a reparse point, which
// is rare.
bool OpenedIsLink(HANDLE entry, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  struct {
    ULONG attributes;
    ULONG reparseTag;
  } tag = {};
  IO_STATUS_BLOCK status = {};
  if (g_fileSystem.queryInformation(entry, &status, &tag, sizeof(tag), kFileAttributeTagInformation) < 0) return true;
  return IsLinkEntry(attributes, tag.reparseTag);
}

// Checks the opened child of parent named name: the name its handle reached
// is the parent's checked name and its own; the id is expected (unless any
// id will do); a link only where one was listed, or where nothing was.
Verdict CheckOpened(HANDLE entry, const OpenedFacts& facts, const HeldEntry& parent, const wchar_t* name,
                    size_t length, uint64_t expectedId, bool listedAsLink) {
  const NtAllInformation& info = facts.Info();
  if (expectedId != kAnyId && static_cast<uint64_t>(info.indexNumber.QuadPart) != expectedId) return Verdict::kNotOwn;
  if (!ReachedAsChildOf(facts.Name(), facts.NameLength(), parent.checkedName, name, length)) return Verdict::kNotOwn;
  const bool link = OpenedIsLink(entry, info.fileAttributes);
  if (listedAsLink) return link ? Verdict::kLinkItself : Verdict::kNotOwn;
  // An entry that was no link when listed must not be one now; one opened by
  // name alone is removed as a link when it is one.
  if (link && expectedId != kAnyId) return Verdict::kNotOwn;
  return link ? Verdict::kLinkItself : Verdict::kOwn;
}

NTSTATUS SetAttributes(HANDLE entry, DWORD attributes) {
  NtBasicInformation basic = {};  // zero times: left as they are
  basic.fileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  IO_STATUS_BLOCK status = {};
  return g_fileSystem.setInformation(entry, &status, &basic, sizeof(basic), kFileBasicInformation);
}

NTSTATUS MarkForDeletion(HANDLE entry) {
  BOOLEAN disposition = TRUE;
  IO_STATUS_BLOCK status = {};
  return g_fileSystem.setInformation(entry, &status, &disposition, sizeof(disposition), kFileDispositionInformation);
}

// How an entry is deleted: which child of which checked folder, the id its
// listing gave (kAnyId when it was not listed), and what it was listed as.
struct DeleteRequest {
  const HeldEntry* parent;
  const wchar_t* name;
  size_t length;
  uint64_t expectedId;
  bool listedAsLink;
  int kind;  // 1: folder, 0: file, -1: either
};

ULONG OptionsFor(int kind) {
  return kOpenOptions | (kind == 1 ? kFileDirectoryFile : kind == 0 ? kFileNonDirectoryFile : 0);
}

// Hands the refused entry, reopened for its security relative to its
// checked folder and checked again, to the hook. True: try once more.
bool RepairRefused(const DeleteRequest& request, const RefusedDeleteHook* hook, RefusedStep step) {
  if (hook == nullptr) return false;
  UniqueFile secured;
  OpenedFacts facts;
  return OpenRelative(request.parent->handle.get(), request.name, request.length, kRepairAccess,
                      OptionsFor(request.kind), &secured) >= 0 &&
         facts.Read(secured.get()) >= 0 &&
         CheckOpened(secured.get(), facts, *request.parent, request.name, request.length, request.expectedId, false) ==
             Verdict::kOwn &&
         hook->repair(hook->context, secured.get(), step);
}

// Deletes one entry: opened relative to its folder (or its held handle
// used, and closed here), checked, read-only cleared and the entry marked
// for deletion through that handle. A refused step goes to the hook and is
// tried once more. A file with another name keeps its read-only attribute:
// only this name goes.
HRESULT DeleteEntry(const DeleteRequest& request, UniqueFile* held, OpenedFacts& facts,
                    const RefusedDeleteHook* hook) {
  UniqueFile opened;
  if (held != nullptr) opened = std::move(*held);
  const RefusedStep removal = request.kind == 1 ? RefusedStep::kRemoveFolder : RefusedStep::kDeleteFile;
  if (!opened) {
    const ACCESS_MASK access = request.kind == 0 && !request.listedAsLink ? kFileAccess : kFolderAccess;
    NTSTATUS status = OpenRelative(request.parent->handle.get(), request.name, request.length, access,
                                   OptionsFor(request.kind), &opened);
    if (status == kStatusAccessDenied && !request.listedAsLink && RepairRefused(request, hook, removal))
      status = OpenRelative(request.parent->handle.get(), request.name, request.length, access,
                            OptionsFor(request.kind), &opened);
    if (status < 0) return FromOpenStatus(status);
  }
  const NTSTATUS read = facts.Read(opened.get());
  if (read < 0) return HResultFromNtStatus(read);
  const Verdict verdict =
      CheckOpened(opened.get(), facts, *request.parent, request.name, request.length, request.expectedId,
                  request.listedAsLink);
  if (verdict == Verdict::kNotOwn) return kEntryNotOwn;
  // A link itself goes, never repaired or changed.
  if (verdict == Verdict::kLinkItself) return MarkForDeletion(opened.get()) >= 0 ? S_OK : kEntryNotOwn;

  const NtAllInformation& info = facts.Info();
  const uint64_t id = static_cast<uint64_t>(info.indexNumber.QuadPart);
  const DWORD attributes = info.fileAttributes;
  const bool folder = info.directory != 0;
  const bool multiLinked = !folder && info.numberOfLinks > 1;
  bool cleared = false;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    const DWORD without = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    cleared = SetAttributes(opened.get(), without) >= 0 ||
              (RepairRefused(request, hook, RefusedStep::kClearReadOnly) && SetAttributes(opened.get(), without) >= 0);
  }
  NTSTATUS deleted = MarkForDeletion(opened.get());
  if (deleted < 0 && RepairRefused(request, hook, folder ? RefusedStep::kRemoveFolder : RefusedStep::kDeleteFile)) {
    // Access is granted when a handle is opened: the one retry goes through
    // a handle opened after the repair, checked as the first.
    UniqueFile fresh;
    const bool reopened =
        OpenRelative(request.parent->handle.get(), request.name, request.length, folder ? kFolderAccess : kFileAccess,
                     OptionsFor(folder ? 1 : 0), &fresh) >= 0 &&
        facts.Read(fresh.get()) >= 0 &&
        CheckOpened(fresh.get(), facts, *request.parent, request.name, request.length, id, false) == Verdict::kOwn;
    deleted = reopened ? MarkForDeletion(fresh.get()) : kStatusAccessDenied;
  }
  // What stays, or lives on under another name, keeps its attribute.
  if (cleared && (deleted < 0 || multiLinked)) SetAttributes(opened.get(), attributes);
  return HResultFromNtStatus(deleted);
}

// One folder of the tree, held open from its listing until it is removed.
struct TreeFolder {
  HeldEntry held;
  const HeldEntry* parent;  // the folder holding it
  WideString name;
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
// same memory.
constexpr size_t kQueueLimit = 4096;

struct TreeDeletion {
  const RefusedDeleteHook* hook = nullptr;
  TreeFolder* root = nullptr;
  CriticalSection lock;
  Queue<TreeItem> queue;
  UniqueHandle batchReady;
  UniqueHandle roomReady;  // set by the deleter each time it empties the queue
  uint32_t unqueuedEnd = 0;
  Array<TreeFolder*> folders;  // every folder record, freed when the deletion ends
  volatile LONG left = 0;      // something stayed

  ~TreeDeletion() {
    for (TreeFolder* folder : folders) {
      folder->~TreeFolder();
      HeapRelease(folder);
    }
  }
  void NoteLeft() { ::InterlockedExchange(&left, 1); }
};

TreeFolder* NewFolder(TreeDeletion& deletion) {
  void* block = HeapAllocate(sizeof(TreeFolder));
  if (block == nullptr) return nullptr;
  TreeFolder* folder = new (block) TreeFolder();
  if (!deletion.folders.Push(static_cast<TreeFolder*&&>(folder))) {
    folder->~TreeFolder();
    HeapRelease(block);
    return nullptr;
  }
  return deletion.folders.Back();
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
  if (full && deletion.roomReady) ::WaitForSingleObject(deletion.roomReady.get(), INFINITE);
  return S_OK;
}

// Opens the listed child folder relative to parent and checks it; a link
// or a changed entry is never entered.
HRESULT EnterFolder(TreeDeletion& deletion, const HeldEntry& parent, const ListedEntry& listed,
                    TreeFolder** entered) {
  *entered = nullptr;
  TreeFolder* folder = NewFolder(deletion);
  if (folder == nullptr || !folder->name.Assign(listed.name, listed.nameLength)) return E_OUTOFMEMORY;
  folder->parent = &parent;
  HRESULT opened = OpenCheckedChild(parent, listed, kFolderAccess, &folder->held);
  // A folder that refuses to be deleted is still listed; its removal is
  // then refused, repaired and tried once more.
  if (opened == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED))
    opened = OpenCheckedChild(parent, listed, kFolderAccess & ~kChangeAccess, &folder->held);
  if (SUCCEEDED(opened)) *entered = folder;
  return opened;
}

struct OpenFolderListing {
  TreeFolder* folder;
  FolderListing* listing;
};

// The walker: lists every folder through its handle, depth first, and
// queues each entry, every folder after everything beneath it. S_OK, or
// the failure of the first folder that could not be opened or listed; that
// folder and those above it are then not queued.
HRESULT EnqueueTree(TreeDeletion& deletion) {
  Array<OpenFolderListing> open;
  auto push = [&](TreeFolder* folder) -> HRESULT {
    void* block = HeapAllocate(sizeof(FolderListing));
    if (block == nullptr) return E_OUTOFMEMORY;
    OpenFolderListing entry{folder, new (block) FolderListing(folder->held.handle.get())};
    if (!open.Push(std::move(entry))) {
      entry.listing->~FolderListing();
      HeapRelease(block);
      return E_OUTOFMEMORY;
    }
    return S_OK;
  };
  auto pop = [&]() {
    open.Back().listing->~FolderListing();
    HeapRelease(open.Back().listing);
    open.PopBack();
  };
  HRESULT result = push(deletion.root);
  while (SUCCEEDED(result) && !open.IsEmpty()) {
    TreeFolder* folder = open.Back().folder;
    ListedEntry listed;
    const HRESULT next = open.Back().listing->Next(&listed);
    if (FAILED(next)) {
      result = next;
      break;
    }
    if (next == S_FALSE) {
      // Everything beneath this folder is queued; the folder follows.
      pop();
      TreeItem item;
      item.flags = kItemFolder;
      item.folder = folder;
      result = QueueItem(deletion, std::move(item));
      continue;
    }
    const bool isFolder = (listed.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool isLink = IsLinkEntry(listed.attributes, listed.reparseTag);
    if (isFolder && !isLink) {
      TreeFolder* entered = nullptr;
      const HRESULT opened = EnterFolder(deletion, folder->held, listed, &entered);
      if (opened == kEntryNotOwn) {
        deletion.NoteLeft();
      } else if (FAILED(opened)) {
        result = opened;
      } else {
        result = push(entered);
      }
      continue;
    }
    TreeItem item;
    item.flags = isLink ? kItemLink : kItemFile;
    item.folder = folder;
    item.fileId = listed.fileId;
    item.isFolder = isFolder;
    if (!item.name.Assign(listed.name, listed.nameLength)) {
      result = E_OUTOFMEMORY;
      break;
    }
    result = QueueItem(deletion, std::move(item));
  }
  while (!open.IsEmpty()) pop();
  return result;
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
  HRESULT result;
  if (item.flags & kItemFolder) {
    TreeFolder& folder = *item.folder;
    const DeleteRequest request{folder.parent, folder.name.Get(), folder.name.Length(), folder.held.fileId, false, 1};
    result = DeleteEntry(request, &folder.held.handle, facts, deletion.hook);
  } else {
    const DeleteRequest request{&item.folder->held, item.name.Get(), item.name.Length(), item.fileId,
                                (item.flags & kItemLink) != 0, item.isFolder ? 1 : 0};
    result = DeleteEntry(request, nullptr, facts, (item.flags & kItemLink) ? nullptr : deletion.hook);
  }
  if (FAILED(result)) deletion.NoteLeft();
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
HRESULT DeleteHeldTree(const HeldEntry& parent, const wchar_t* name, size_t length, HeldEntry&& root,
                       const RefusedDeleteHook* hook) {
  TreeDeletion deletion;
  deletion.hook = hook;
  deletion.root = NewFolder(deletion);
  if (deletion.root == nullptr || !deletion.root->name.Assign(name, length)) return E_OUTOFMEMORY;
  deletion.root->parent = &parent;
  const uint64_t rootId = root.fileId;
  deletion.root->held = std::move(root);
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
  if (endFlags & kItemWalkFailed) return E_UNEXPECTED;
  if (deletion.left) return kTreeNotAllDeleted;
  // Wine removes at close, by path: the root is gone only when its parent
  // no longer holds it.
  UniqueFile still;
  if (OpenRelative(parent.handle.get(), name, length, FILE_READ_ATTRIBUTES | SYNCHRONIZE, kOpenOptions, &still) >= 0 &&
      facts.Read(still.get()) >= 0 && static_cast<uint64_t>(facts.Info().indexNumber.QuadPart) == rootId)
    return kTreeNotAllDeleted;
  return S_OK;
}

// Opens the child of parent named name, of the given kind (-1: either),
// checks it and deletes it: a folder with everything below it.
HRESULT DeleteNamedChild(const HeldEntry& parent, const wchar_t* name, size_t length, uint64_t expectedId,
                         bool listedAsLink, int kind, const RefusedDeleteHook* hook) {
  OpenedFacts facts;
  const DeleteRequest request{&parent, name, length, expectedId, listedAsLink, kind};
  if (kind == 0 || listedAsLink) return DeleteEntry(request, nullptr, facts, listedAsLink ? nullptr : hook);
  UniqueFile opened;
  const NTSTATUS status = OpenRelative(parent.handle.get(), name, length, kFolderAccess, OptionsFor(kind), &opened);
  if (status < 0) return FromOpenStatus(status);
  RETURN_IF_FAILED(HResultFromNtStatus(facts.Read(opened.get())));
  const Verdict verdict = CheckOpened(opened.get(), facts, parent, name, length, expectedId, false);
  if (verdict == Verdict::kNotOwn) return kEntryNotOwn;
  if (verdict == Verdict::kLinkItself || !facts.Info().directory) {
    const DeleteRequest single{&parent, name, length, expectedId, verdict == Verdict::kLinkItself,
                               facts.Info().directory ? 1 : 0};
    return DeleteEntry(single, &opened, facts, verdict == Verdict::kLinkItself ? nullptr : hook);
  }
  HeldEntry root;
  root.handle = std::move(opened);
  root.fileId = static_cast<uint64_t>(facts.Info().indexNumber.QuadPart);
  root.attributes = facts.Info().fileAttributes;
  if (!root.checkedName.Assign(facts.Name(), facts.NameLength())) return E_OUTOFMEMORY;
  return DeleteHeldTree(parent, name, length, std::move(root), hook);
}

// Opens the folder that holds the last name of path, by path, and hands
// back where that name starts.
HRESULT OpenParentOf(const WideString& path, HeldEntry* parent, WideString* name) {
  // A path built from an empty variable must not name a whole disk.
  if (path.IsEmpty() || ResolvesToVolumeOrShareRoot(path)) return E_INVALIDARG;
  WideString trimmed;
  if (!trimmed.Assign(path)) return E_OUTOFMEMORY;
  TrimTrailingSeparators(trimmed);
  size_t cut = trimmed.Length();
  while (cut > 0 && trimmed[cut - 1] != L'\\' && trimmed[cut - 1] != L'/' && trimmed[cut - 1] != L':') --cut;
  if (!name->Assign(trimmed.Get() + cut)) return E_OUTOFMEMORY;
  if (name->IsEmpty() || IsDotOrDotDot(name->Get(), name->Length())) return E_INVALIDARG;
  // A name with a wildcard or a separator of its own names no one entry.
  for (size_t i = 0; i < name->Length(); ++i)
    if ((*name)[i] == L'*' || (*name)[i] == L'?') return E_INVALIDARG;
  trimmed.Truncate(cut);
  if (trimmed.IsEmpty() && !trimmed.Assign(L".")) return E_OUTOFMEMORY;

  // The parent's full form, as \\?\ so that no further rule re-reads it.
  WideString full;
  const wchar_t* parentPath = trimmed.Get();
  if (!(parentPath[0] == L'\\' && parentPath[1] == L'\\' && (parentPath[2] == L'?' || parentPath[2] == L'.') &&
        parentPath[3] == L'\\')) {
    const DWORD needed = ::GetFullPathNameW(parentPath, 0, nullptr, nullptr);
    if (needed == 0) return HResultFromLastError();
    WideString resolved;
    if (!resolved.Reserve(needed + 1)) return E_OUTOFMEMORY;
    const DWORD written = ::GetFullPathNameW(parentPath, needed + 1, resolved.Data(), nullptr);
    if (written == 0 || written > needed) return E_FAIL;
    const bool unc = resolved.Data()[0] == L'\\' && resolved.Data()[1] == L'\\';
    if (!full.Assign(unc ? L"\\\\?\\UNC\\" : L"\\\\?\\") || !full.Append(resolved.Data() + (unc ? 2 : 0)))
      return E_OUTOFMEMORY;
    parentPath = full.Get();
  }
  constexpr ACCESS_MASK kListing = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  parent->handle.reset(g_fileSystem.createFile(parentPath, kListing, kShareAll, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!parent->handle) return HResultFromLastError();
  OpenedFacts facts;
  RETURN_IF_FAILED(HResultFromNtStatus(facts.Read(parent->handle.get())));
  parent->fileId = static_cast<uint64_t>(facts.Info().indexNumber.QuadPart);
  parent->attributes = facts.Info().fileAttributes;
  return parent->checkedName.Assign(facts.Name(), facts.NameLength()) ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

bool ReachedAsChildOf(const wchar_t* reported, size_t reportedLength, const WideString& folder, const wchar_t* name,
                      size_t nameLength) {
  // Component by component: Wine leaves trailing dots out of every
  // component it reports and trailing blanks out of the last one.
  const wchar_t* expected = folder.Get();
  size_t expectedLength = folder.Length();
  size_t r = 0, e = 0;
  for (;;) {
    while (r < reportedLength && reported[r] == L'\\') ++r;
    while (e < expectedLength && expected[e] == L'\\') ++e;
    if (e == expectedLength) break;
    if (r == reportedLength) return false;
    size_t rEnd = r, eEnd = e;
    while (rEnd < reportedLength && reported[rEnd] != L'\\') ++rEnd;
    while (eEnd < expectedLength && expected[eEnd] != L'\\') ++eEnd;
    if (!SameText(reported + r, WithoutTrailingDotsAndBlanks(reported + r, rEnd - r), expected + e,
                  WithoutTrailingDotsAndBlanks(expected + e, eEnd - e)))
      return false;
    r = rEnd;
    e = eEnd;
  }
  const wchar_t* tail = reported + r;
  const size_t tailLength = WithoutTrailingDotsAndBlanks(tail, reportedLength - r);
  if (tailLength == 0) return false;
  for (size_t i = 0; i < tailLength; ++i)
    if (tail[i] == L'\\') return false;
  return SameText(tail, tailLength, name, WithoutTrailingDotsAndBlanks(name, nameLength));
}

HRESULT FolderListing::Fill(const wchar_t* mask, size_t maskLength, bool restart) {
  if (!buffer_) {
    buffer_.reset(HeapAllocate(kListingBytes));
    if (!buffer_) return E_OUTOFMEMORY;
  }
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(mask);
  text.Length = text.MaximumLength = static_cast<USHORT>(maskLength * sizeof(wchar_t));
  IO_STATUS_BLOCK status = {};
  const NTSTATUS listed =
      g_fileSystem.queryDirectory(folder_, nullptr, nullptr, nullptr, &status, buffer_.get(), kListingBytes,
                                  kFileIdBothDirectoryInformation, FALSE, mask != nullptr ? &text : nullptr,
                                  restart ? TRUE : FALSE);
  started_ = true;
  if (listed == kStatusNoMoreFiles || listed == kStatusNoSuchFile || listed == kStatusObjectNameNotFound) {
    ended_ = true;
    offset_ = kNoEntry;
    return S_FALSE;
  }
  if (listed < 0) return HResultFromNtStatus(listed);
  offset_ = 0;
  return S_OK;
}

namespace {
void TakeListedEntry(const NtDirectoryEntry& listed, ListedEntry* entry) {
  entry->name = listed.fileName;
  entry->nameLength = listed.fileNameLength / sizeof(wchar_t);
  entry->attributes = listed.fileAttributes;
  entry->reparseTag = (listed.fileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? listed.eaSizeOrReparseTag : 0;
  entry->size = static_cast<uint64_t>(listed.endOfFile.QuadPart);
  entry->fileId = static_cast<uint64_t>(listed.fileId.QuadPart);
}
}  // namespace

HRESULT FolderListing::Next(ListedEntry* entry) {
  for (;;) {
    if (ended_) return S_FALSE;
    if (!started_ || offset_ == kNoEntry) {
      const HRESULT filled = Fill(nullptr, 0, !started_);
      if (filled != S_OK) return filled;
    }
    const auto* listed =
        reinterpret_cast<const NtDirectoryEntry*>(static_cast<const BYTE*>(buffer_.get()) + offset_);
    offset_ = listed->nextEntryOffset != 0 ? offset_ + listed->nextEntryOffset : kNoEntry;
    const size_t length = listed->fileNameLength / sizeof(wchar_t);
    if (IsDotOrDotDot(listed->fileName, length)) continue;
    TakeListedEntry(*listed, entry);
    return S_OK;
  }
}

HRESULT FolderListing::Find(const wchar_t* name, size_t length, ListedEntry* entry) {
  if (length == 0 || length > 0x7FFF) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  ended_ = false;
  const HRESULT filled = Fill(name, length, true);
  // A later Next lists from the start again.
  started_ = false;
  if (FAILED(filled)) return filled;
  if (filled == S_FALSE) {
    ended_ = false;
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  for (ULONG offset = 0;;) {
    const auto* listed = reinterpret_cast<const NtDirectoryEntry*>(static_cast<const BYTE*>(buffer_.get()) + offset);
    if (SameText(listed->fileName, listed->fileNameLength / sizeof(wchar_t), name, length) &&
        listed->fileNameLength / sizeof(wchar_t) == length) {
      TakeListedEntry(*listed, entry);
      offset_ = kNoEntry;
      return S_OK;
    }
    if (listed->nextEntryOffset == 0) break;
    offset += listed->nextEntryOffset;
  }
  offset_ = kNoEntry;
  return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

HRESULT ReadFileIdentity(HANDLE entry, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION information;
  RETURN_IF_WIN32_BOOL_FALSE(g_fileSystem.getFileInformationByHandle(entry, &information));
  identity->volumeSerial = information.dwVolumeSerialNumber;
  identity->fileIndex = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  return S_OK;
}

bool IsSameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.volumeSerial == b.volumeSerial && a.fileIndex == b.fileIndex;
}

HRESULT OpenCheckedChild(const HeldEntry& parent, const ListedEntry& listed, ACCESS_MASK access, HeldEntry* child) {
  const bool folder = (listed.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  UniqueFile opened;
  const NTSTATUS status =
      OpenRelative(parent.handle.get(), listed.name, listed.nameLength, access, OptionsFor(folder ? 1 : 0), &opened);
  if (status < 0) return FromOpenStatus(status);
  OpenedFacts facts;
  RETURN_IF_FAILED(HResultFromNtStatus(facts.Read(opened.get())));
  if (IsLinkEntry(listed.attributes, listed.reparseTag) ||
      CheckOpened(opened.get(), facts, parent, listed.name, listed.nameLength, listed.fileId, false) != Verdict::kOwn)
    return kEntryNotOwn;
  child->handle = std::move(opened);
  child->fileId = static_cast<uint64_t>(facts.Info().indexNumber.QuadPart);
  child->attributes = facts.Info().fileAttributes;
  return child->checkedName.Assign(facts.Name(), facts.NameLength()) ? S_OK : E_OUTOFMEMORY;
}

HRESULT OpenChildFolder(const HeldEntry& parent, const wchar_t* name, size_t length, HeldEntry* child) {
  if (IsDotOrDotDot(name, length)) return E_INVALIDARG;
  UniqueFile opened;
  const NTSTATUS status =
      OpenRelative(parent.handle.get(), name, length, kFolderAccess & ~DELETE, kOpenOptions, &opened);
  if (status < 0) return FromOpenStatus(status);
  OpenedFacts facts;
  RETURN_IF_FAILED(HResultFromNtStatus(facts.Read(opened.get())));
  if (CheckOpened(opened.get(), facts, parent, name, length, kAnyId, false) != Verdict::kOwn) return kEntryNotOwn;
  if (!facts.Info().directory) return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
  child->handle = std::move(opened);
  child->fileId = static_cast<uint64_t>(facts.Info().indexNumber.QuadPart);
  child->attributes = facts.Info().fileAttributes;
  return child->checkedName.Assign(facts.Name(), facts.NameLength()) ? S_OK : E_OUTOFMEMORY;
}

HRESULT OpenFolderByPath(const WideString& path, HeldEntry* folder) {
  HeldEntry parent;
  WideString name;
  RETURN_IF_FAILED(OpenParentOf(path, &parent, &name));
  return OpenChildFolder(parent, name.Get(), name.Length(), folder);
}

HRESULT DeleteChild(const HeldEntry& parent, const ListedEntry& listed, const RefusedDeleteHook* hook) {
  const bool isFolder = (listed.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return DeleteNamedChild(parent, listed.name, listed.nameLength, listed.fileId,
                          IsLinkEntry(listed.attributes, listed.reparseTag), isFolder ? 1 : 0, hook);
}

HRESULT DeleteChildByName(const HeldEntry& parent, const wchar_t* name, size_t length,
                          const RefusedDeleteHook* hook) {
  if (IsDotOrDotDot(name, length)) return E_INVALIDARG;
  return DeleteNamedChild(parent, name, length, kAnyId, false, -1, hook);
}

HRESULT RemoveEmptyFolder(const WideString& path) {
  HeldEntry parent;
  WideString name;
  RETURN_IF_FAILED(OpenParentOf(path, &parent, &name));
  FolderListing listing(parent.handle.get());
  ListedEntry listed;
  RETURN_IF_FAILED(listing.Find(name.Get(), name.Length(), &listed));
  OpenedFacts facts;
  const DeleteRequest request{&parent, name.Get(), name.Length(), listed.fileId,
                              IsLinkEntry(listed.attributes, listed.reparseTag), 1};
  return DeleteEntry(request, nullptr, facts, nullptr);
}

HRESULT DeleteTree(const WideString& path, const RefusedDeleteHook* hook) {
  HeldEntry parent;
  WideString name;
  RETURN_IF_FAILED(OpenParentOf(path, &parent, &name));
  UniqueFile opened;
  NTSTATUS status = OpenRelative(parent.handle.get(), name.Get(), name.Length(), kFolderAccess, kOpenOptions, &opened);
  if (status == kStatusAccessDenied)
    status = OpenRelative(parent.handle.get(), name.Get(), name.Length(), kFolderAccess & ~kChangeAccess,
                          kOpenOptions, &opened);
  if (status < 0) return FromOpenStatus(status);
  OpenedFacts facts;
  RETURN_IF_FAILED(HResultFromNtStatus(facts.Read(opened.get())));
  const Verdict verdict = CheckOpened(opened.get(), facts, parent, name.Get(), name.Length(), kAnyId, false);
  if (verdict == Verdict::kNotOwn) return kEntryNotOwn;
  if (verdict == Verdict::kLinkItself) {
    const DeleteRequest request{&parent, name.Get(), name.Length(), kAnyId, true, -1};
    return SUCCEEDED(DeleteEntry(request, &opened, facts, nullptr)) ? S_OK : kTreeNotAllDeleted;
  }
  if (!facts.Info().directory) return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
  HeldEntry root;
  root.handle = std::move(opened);
  root.fileId = static_cast<uint64_t>(facts.Info().indexNumber.QuadPart);
  root.attributes = facts.Info().fileAttributes;
  if (!root.checkedName.Assign(facts.Name(), facts.NameLength())) return E_OUTOFMEMORY;
  return DeleteHeldTree(parent, name.Get(), name.Length(), std::move(root), hook);
}

}  // namespace tmn
