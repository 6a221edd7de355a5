// Listing a folder through its handle (NtQueryDirectoryFile), so that names
// are read exactly as they lie on disk ("m.", "x ", "nul") and no path is
// read again.
//
// Entries arrive in batches, into one buffer that every listing of a walk
// shares. A walk that turns to a folder below before a listing has handed
// out its batch parks the rest of that batch in a block of the listing's
// own, sized to what is left. So a walk holds one buffer, and beside it
// what the folders above the one it lists had left over: its memory grows
// with the depth of the tree, not with the count of its entries.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/unique.h"

namespace tmn {

// One entry as its folder lists it. The names point into the listing's
// batch: valid until that listing moves on or a listing sharing its buffer
// fills it again.
struct ListedEntry {
  const wchar_t* name = nullptr;  // not terminated
  size_t nameLength = 0;
  const wchar_t* shortName = nullptr;  // the 8.3 alias, when the file system keeps one
  size_t shortNameLength = 0;
  DWORD attributes = 0;
  DWORD reparseTag = 0;  // for a reparse point
  uint64_t size = 0;
  uint64_t fileId = 0;
};

// The buffer the listings of one walk fill in turn, taken on first use.
class ListingBuffer {
 public:
  static constexpr ULONG kBytes = 16 * 1024;
  ListingBuffer() = default;
  ListingBuffer(const ListingBuffer&) = delete;
  ListingBuffer& operator=(const ListingBuffer&) = delete;
  void* Get();

 private:
  UniqueHeapBlock block_;
};

class FolderListing {
 public:
  FolderListing(HANDLE folder, ListingBuffer* shared) : folder_(folder), shared_(shared) {}
  FolderListing(FolderListing&& other) noexcept;
  FolderListing& operator=(FolderListing&& other) = delete;
  FolderListing(const FolderListing&) = delete;

  // S_OK with the next entry ("." and ".." left out), S_FALSE at the end,
  // or the failure of the listing: ERROR_INVALID_DATA for an entry that
  // runs past the bytes the listing call filled.
  HRESULT Next(ListedEntry* entry);
  // The entry of that name, as its long name or its short one (letter case
  // aside): S_OK, or HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND). The first
  // listing of a handle fixes its pattern (Wine keeps it across restarts):
  // Find on a handle of its own, never one listed before or after.
  HRESULT Find(const wchar_t* name, size_t length, ListedEntry* entry);
  // Moves the entries of the batch not handed out yet out of the shared
  // buffer, before another listing fills it. E_OUTOFMEMORY when they
  // cannot be kept.
  HRESULT Park();

 private:
  HRESULT Fill(const wchar_t* mask, size_t maskLength, bool restart);

  HANDLE folder_;
  ListingBuffer* shared_;
  UniqueHeapBlock parked_;
  const BYTE* batch_ = nullptr;  // the shared buffer, or the parked block
  ULONG bytes_ = 0;              // of the batch, as the listing call filled it
  ULONG offset_ = static_cast<ULONG>(-1);  // of the next entry in the batch; none once it is used up
  bool started_ = false;
  bool ended_ = false;
};

// One look at a folder through a listing of its own, filling buffer: the
// entry of that name as Find finds it, or, for a null name, its first
// entry, whose names live as long as buffer holds them. S_OK, S_FALSE for
// a folder that lists nothing, or the failure of Find.
HRESULT LookIn(HANDLE folder, ListingBuffer* buffer, const wchar_t* name, size_t length, ListedEntry* entry);

}  // namespace tmn
