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

const NtDirectoryEntry& EntryAt(const BYTE* batch, ULONG offset) {
  return *reinterpret_cast<const NtDirectoryEntry*>(batch + offset);
}

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
    const NtDirectoryEntry& listed = EntryAt(batch_, offset_);
    offset_ = listed.nextEntryOffset != 0 ? offset_ + listed.nextEntryOffset : kNoEntry;
    if (IsDotOrDotDot(listed.fileName, listed.fileNameLength / sizeof(wchar_t))) continue;
    TakeListedEntry(listed, entry);
    return S_OK;
  }
}

HRESULT FolderListing::Find(const wchar_t* name, size_t length, ListedEntry* entry) {
  if (length == 0 || length > 0x7FFF) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  const HRESULT filled = Fill(name, length, true);
  ended_ = true;  // a handle searched by a pattern lists nothing else
  if (FAILED(filled)) return filled;
  for (ULONG offset = 0; filled == S_OK;) {
    const NtDirectoryEntry& listed = EntryAt(batch_, offset);
    ListedEntry candidate;
    TakeListedEntry(listed, &candidate);
    if (SameEntryName(candidate.name, candidate.nameLength, name, length) ||
        SameEntryName(candidate.shortName, candidate.shortNameLength, name, length)) {
      *entry = candidate;
      return S_OK;
    }
    if (listed.nextEntryOffset == 0) break;
    offset += listed.nextEntryOffset;
  }
  return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

HRESULT FolderListing::Park() {
  if (offset_ == kNoEntry || parked_) return S_OK;
  // The batch runs from the next entry to the end of its last one.
  ULONG last = offset_;
  while (EntryAt(batch_, last).nextEntryOffset != 0) last += EntryAt(batch_, last).nextEntryOffset;
  const size_t bytes = last - offset_ + offsetof(NtDirectoryEntry, fileName) + EntryAt(batch_, last).fileNameLength;
  UniqueHeapBlock block(HeapAllocate(bytes));
  if (!block) return E_OUTOFMEMORY;
  memcpy(block.get(), batch_ + offset_, bytes);
  parked_ = static_cast<UniqueHeapBlock&&>(block);
  batch_ = static_cast<const BYTE*>(parked_.get());
  offset_ = 0;
  return S_OK;
}

}  // namespace tmn
