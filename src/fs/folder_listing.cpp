#include "fs/folder_listing.h"

#include <stddef.h>
#include <string.h>

#include "base/heap.h"
#include "fs/entry_names.h"
#include "fs/file_system_calls.h"
#include "fs/nt_calls.h"

namespace tmn {

namespace {

constexpr ULONG kNoEntry = static_cast<ULONG>(-1);

// The entry at offset in a batch of bytes, or null when it or its name would
// run past the end of the batch.
const NtDirectoryEntry* EntryAt(const BYTE* batch, ULONG bytes, ULONG offset) {
  constexpr ULONG kHead = offsetof(NtDirectoryEntry, fileName);
  if (offset > bytes || bytes - offset < kHead) return nullptr;
  const auto* entry = reinterpret_cast<const NtDirectoryEntry*>(batch + offset);
  return entry->fileNameLength <= bytes - offset - kHead ? entry : nullptr;
}

// The offset of the entry after the one at offset: kNoEntry after the last,
// the batch's end (no entry fits there) for a step past it.
ULONG NextOffset(const NtDirectoryEntry& entry, ULONG bytes, ULONG offset) {
  if (entry.nextEntryOffset == 0) return kNoEntry;
  return entry.nextEntryOffset <= bytes - offset ? offset + entry.nextEntryOffset : bytes;
}

constexpr HRESULT kBrokenBatch = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

void TakeListedEntry(const NtDirectoryEntry& listed, ListedEntry* entry) {
  entry->name = listed.fileName;
  entry->nameLength = listed.fileNameLength / sizeof(wchar_t);
  entry->shortName = listed.shortName;
  entry->shortNameLength = static_cast<size_t>(listed.shortNameLength) / sizeof(wchar_t);
  if (entry->shortNameLength > 12) entry->shortNameLength = 0;
  entry->attributes = listed.fileAttributes;
  entry->reparseTag = (listed.fileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? listed.eaSizeOrReparseTag : 0;
  entry->size = static_cast<uint64_t>(listed.endOfFile.QuadPart);
  entry->fileId = static_cast<uint64_t>(listed.fileId.QuadPart);
}

}  // namespace

void* ListingBuffer::Get() {
  if (!block_) block_.reset(HeapAllocate(kBytes));
  return block_.get();
}

FolderListing::FolderListing(FolderListing&& other) noexcept
    : folder_(other.folder_),
      shared_(other.shared_),
      parked_(static_cast<UniqueHeapBlock&&>(other.parked_)),
      batch_(other.batch_),
      bytes_(other.bytes_),
      offset_(other.offset_),
      started_(other.started_),
      ended_(other.ended_) {
  other.batch_ = nullptr;
  other.offset_ = kNoEntry;
}

HRESULT FolderListing::Fill(const wchar_t* mask, size_t maskLength, bool restart) {
  parked_.reset();
  batch_ = nullptr;
  offset_ = kNoEntry;
  void* buffer = shared_->Get();
  if (buffer == nullptr) return E_OUTOFMEMORY;
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(mask);
  text.Length = text.MaximumLength = static_cast<USHORT>(maskLength * sizeof(wchar_t));
  IO_STATUS_BLOCK status = {};
  const NTSTATUS listed =
      g_fileSystem.queryDirectory(folder_, nullptr, nullptr, nullptr, &status, buffer, ListingBuffer::kBytes,
                                  kFileIdBothDirectoryInformation, FALSE, mask != nullptr ? &text : nullptr,
                                  restart ? TRUE : FALSE);
  started_ = true;
  if (listed == kStatusNoMoreFiles || listed == kStatusNoSuchFile || listed == kStatusObjectNameNotFound) {
    ended_ = true;
    return S_FALSE;
  }
  if (listed < 0) return HResultFromNtStatus(listed);
  batch_ = static_cast<const BYTE*>(buffer);
  bytes_ = status.Information <= ListingBuffer::kBytes ? static_cast<ULONG>(status.Information) : 0;
  offset_ = 0;
  return S_OK;
}

HRESULT FolderListing::Next(ListedEntry* entry) {
  for (;;) {
    if (ended_) return S_FALSE;
    if (offset_ == kNoEntry) {
      const HRESULT filled = Fill(nullptr, 0, !started_);
      if (filled != S_OK) return filled;
    }
    const NtDirectoryEntry* listed = EntryAt(batch_, bytes_, offset_);
    if (listed == nullptr) {
      ended_ = true;
      return kBrokenBatch;
    }
    offset_ = NextOffset(*listed, bytes_, offset_);
    if (IsDotOrDotDot(listed->fileName, listed->fileNameLength / sizeof(wchar_t))) continue;
    TakeListedEntry(*listed, entry);
    return S_OK;
  }
}

HRESULT FolderListing::Find(const wchar_t* name, size_t length, ListedEntry* entry) {
  if (length == 0 || length > 0x7FFF) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  const HRESULT filled = Fill(name, length, true);
  ended_ = true;  // a handle searched by a pattern lists nothing else
  if (FAILED(filled)) return filled;
  for (ULONG offset = 0; filled == S_OK && offset != kNoEntry;) {
    const NtDirectoryEntry* listed = EntryAt(batch_, bytes_, offset);
    if (listed == nullptr) return kBrokenBatch;
    ListedEntry candidate;
    TakeListedEntry(*listed, &candidate);
    if (SameEntryName(candidate.name, candidate.nameLength, name, length) ||
        SameEntryName(candidate.shortName, candidate.shortNameLength, name, length)) {
      *entry = candidate;
      return S_OK;
    }
    offset = NextOffset(*listed, bytes_, offset);
  }
  return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

HRESULT FolderListing::Park() {
  if (offset_ == kNoEntry || parked_) return S_OK;
  // What is left runs from the next entry to the end of the batch.
  const ULONG bytes = offset_ < bytes_ ? bytes_ - offset_ : 0;
  UniqueHeapBlock block(HeapAllocate(bytes > 0 ? bytes : 1));
  if (!block) return E_OUTOFMEMORY;
  memcpy(block.get(), batch_ + offset_, bytes);
  parked_ = static_cast<UniqueHeapBlock&&>(block);
  batch_ = static_cast<const BYTE*>(parked_.get());
  bytes_ = bytes;
  offset_ = 0;
  return S_OK;
}

HRESULT LookIn(HANDLE folder, ListingBuffer* buffer, const wchar_t* name, size_t length, ListedEntry* entry) {
  FolderListing listing(folder, buffer);
  return name != nullptr ? listing.Find(name, length, entry) : listing.Next(entry);
}

}  // namespace tmn
