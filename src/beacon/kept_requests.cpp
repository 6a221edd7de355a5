#include "beacon/kept_requests.h"

#include <string.h>

#include "base/heap.h"
#include "base/result.h"
#include "fs/entry_delete.h"
#include "fs/file_system_calls.h"
#include "fs/link_checks.h"
#include "fs/path_operations.h"

namespace tmn {

namespace {

constexpr uint8_t kMagic[4] = {'T', 'M', 'R', '1'};
constexpr size_t kHeadBytes = sizeof(kMagic) + 8 + 4 + 4;
constexpr size_t kLongestKeptBytes = kHeadBytes + 2 * kKeptTextChars * sizeof(wchar_t);

volatile LONG g_keptSequence = 0;

// An id no other process or thread makes: this process, the moment, and a
// count of this process's names.
bool AppendUniqueId(WideString& name) {
  const uint32_t sequence = static_cast<uint32_t>(::InterlockedIncrement(&g_keptSequence));
  wchar_t id[32];
  const int length = ::wsprintfW(id, L"%08lX%08lX%04lX", ::GetCurrentProcessId(), ::GetTickCount(),
                                 static_cast<unsigned long>(sequence & 0xFFFF));
  return name.Append(id, static_cast<size_t>(length));
}

// "feed.cache.<id>.row" in folder, and the same name with ".part".
bool KeptRequestNames(const WideString& folder, WideString* part, WideString* whole) {
  WideString name;
  if (!name.Assign(kKeptRequestPrefix) || !AppendUniqueId(name) || !name.Append(kKeptRequestSuffix) ||
      !whole->Assign(folder) || !AppendPath(*whole, name.Get()))
    return false;
  return part->Assign(*whole) && part->Append(L".part");
}

}  // namespace

bool FormatKeptRequest(const wchar_t* url, const wchar_t* referer, int64_t requestTime, UniqueHeapBlock* bytes,
                       size_t* count) {
  if (TextLength(url) == 0 || TextLength(url) > kKeptTextChars || TextLength(referer) > kKeptTextChars) return false;
  const uint32_t urlLength = static_cast<uint32_t>(TextLength(url));
  const uint32_t refererLength = static_cast<uint32_t>(TextLength(referer));
  const size_t total = kHeadBytes + (urlLength + refererLength) * sizeof(wchar_t);
  UniqueHeapBlock made(HeapAllocate(total));
  if (!made) return false;
  // Every Windows runs little-endian: the numbers are written as they are.
  uint8_t* at = static_cast<uint8_t*>(made.get());
  memcpy(at, kMagic, sizeof(kMagic));
  memcpy(at + 4, &requestTime, 8);
  memcpy(at + 12, &urlLength, 4);
  memcpy(at + 16, &refererLength, 4);
  memcpy(at + kHeadBytes, url, urlLength * sizeof(wchar_t));
  memcpy(at + kHeadBytes + urlLength * sizeof(wchar_t), referer, refererLength * sizeof(wchar_t));
  *bytes = static_cast<UniqueHeapBlock&&>(made);
  *count = total;
  return true;
}

bool ParseKeptRequest(const uint8_t* bytes, size_t count, KeptEntry* entry) {
  uint32_t urlLength = 0, refererLength = 0;
  if (count < kHeadBytes || memcmp(bytes, kMagic, sizeof(kMagic)) != 0) return false;
  memcpy(&urlLength, bytes + 12, 4);
  memcpy(&refererLength, bytes + 16, 4);
  if (urlLength == 0 || urlLength > kKeptTextChars || refererLength > kKeptTextChars ||
      count != kHeadBytes + (size_t{urlLength} + refererLength) * sizeof(wchar_t))
    return false;
  KeptEntry read;
  const wchar_t* texts = reinterpret_cast<const wchar_t*>(bytes + kHeadBytes);
  // The writer's texts hold no NUL; one inside would cut a text where it is
  // read as one (a URL of a NUL would be empty).
  if (wmemchr(texts, L'\0', size_t{urlLength} + refererLength) != nullptr) return false;
  memcpy(&read.requestTime, bytes + 4, 8);
  if (!read.url.Assign(texts, urlLength) || !read.referer.Assign(texts + urlLength, refererLength)) return false;
  *entry = static_cast<KeptEntry&&>(read);
  return true;
}

HRESULT HeldKeptRequest::Write(const WideString& folder, const wchar_t* url, const wchar_t* referer,
                               int64_t requestTime) {
  file_.reset();
  UniqueHeapBlock bytes;
  size_t total = 0;
  if (!FormatKeptRequest(url, referer, requestTime, &bytes, &total)) return E_INVALIDARG;
  // A name another file took is passed over: it is made new, never opened.
  for (int attempt = 0; attempt < 8; ++attempt) {
    WideString part, whole;
    if (!KeptRequestNames(folder, &part, &whole)) return E_OUTOFMEMORY;
    UniqueFile file(g_fileSystem.createFile(part.Get(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      return HResultFromLastError();
    }
    DWORD written = 0;
    const DWORD count = static_cast<DWORD>(total);
    if (!::WriteFile(file.get(), bytes.get(), count, &written, nullptr) || written != count) {
      const HRESULT failed = HResultFromLastError();
      ClassicDelete(file.get());
      return failed;
    }
    // Renamed through the handle, never replacing: it stays held.
    const HRESULT renamed = RenameOpenedEntry(file.get(), whole.Get(), false);
    if (SUCCEEDED(renamed)) {
      file_ = static_cast<UniqueFile&&>(file);
      return S_OK;
    }
    ClassicDelete(file.get());
    if (renamed != HResultFromWin32(ERROR_ALREADY_EXISTS) && renamed != HResultFromWin32(ERROR_FILE_EXISTS))
      return renamed;
  }
  return HResultFromWin32(ERROR_FILE_EXISTS);
}

bool KeptRequestListing::Next(WideString* path) {
  WIN32_FIND_DATAW found;
  const size_t suffixLength = TextLength(kKeptRequestSuffix);
  for (;;) {
    if (!started_) {
      started_ = true;
      WideString pattern;
      if (!pattern.Assign(folder_) || !AppendPath(pattern, kKeptRequestPrefix) || !pattern.Append(L'*') ||
          !pattern.Append(kKeptRequestSuffix))
        return false;
      find_.reset(::FindFirstFileW(pattern.Get(), &found));
      if (!find_) return false;
    } else if (!find_ || !::FindNextFileW(find_.get(), &found)) {
      return false;
    }
    // The pattern also matches short names and longer endings: only the
    // long name counts.
    const size_t length = TextLength(found.cFileName);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || length <= suffixLength ||
        ::lstrcmpiW(found.cFileName + length - suffixLength, kKeptRequestSuffix) != 0)
      continue;
    return path->Assign(folder_) && AppendPath(*path, found.cFileName);
  }
}

HRESULT HeldKeptRequest::Open(const WideString& path) {
  file_ = OpenEntryItself(path.Get(), GENERIC_READ | DELETE, OPEN_EXISTING, false);
  if (!file_) return HResultFromLastError();
  if (IsLinkOrMultiLinked(file_.get(), path.Get())) {
    file_.reset();
    return HResultFromWin32(ERROR_CANT_ACCESS_FILE);
  }
  return S_OK;
}

HRESULT HeldKeptRequest::Read(KeptEntry* entry) {
  LARGE_INTEGER size;
  if (!file_ || !::GetFileSizeEx(file_.get(), &size)) return HResultFromLastError();
  if (size.QuadPart < 0 || static_cast<ULONGLONG>(size.QuadPart) > kLongestKeptBytes) return kNotAKeptRequest;
  const DWORD count = static_cast<DWORD>(size.QuadPart);
  UniqueHeapBlock bytes(HeapAllocate(count > 0 ? count : 1));
  if (!bytes) return E_OUTOFMEMORY;
  DWORD read = 0;
  if (!::ReadFile(file_.get(), bytes.get(), count, &read, nullptr)) return HResultFromLastError();
  return read == count && ParseKeptRequest(static_cast<const uint8_t*>(bytes.get()), count, entry) ? S_OK
                                                                                                  : kNotAKeptRequest;
}

HRESULT HeldKeptRequest::MoveAside(const WideString& path) {
  // A name of its own, never one another file took: nothing is replaced.
  WideString aside;
  if (!aside.Assign(path) || !aside.Append(L'.') || !AppendUniqueId(aside) || !aside.Append(L".refused"))
    return E_OUTOFMEMORY;
  return RenameOpenedEntry(file_.get(), aside.Get(), false);
}

bool HeldKeptRequest::DeleteWhenClosed() { return file_ && ClassicDelete(file_.get()) >= 0; }

}  // namespace tmn
