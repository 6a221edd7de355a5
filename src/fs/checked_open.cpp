#include "fs/checked_open.h"

#include <utility>

#include "base/heap.h"
#include "base/result.h"
#include "fs/entry_names.h"
#include "fs/file_system_calls.h"
#include "fs/link_checks.h"

namespace tmn {

namespace {

// Room for the longest name a handle can report (32,767 characters) with
// the facts before it.
constexpr ULONG kMostFactsBytes = 0x20000;

}  // namespace

NTSTATUS OpenedFacts::Read(HANDLE entry) {
  for (;;) {
    if (!block_) {
      block_.reset(HeapAllocate(bytes_));
      if (!block_) return static_cast<NTSTATUS>(0xC0000017);  // STATUS_NO_MEMORY
    }
    IO_STATUS_BLOCK status = {};
    const NTSTATUS read = g_fileSystem.queryInformation(entry, &status, block_.get(), bytes_, kFileAllInformation);
    if (read != kStatusBufferOverflow || bytes_ >= kMostFactsBytes) return read;
    bytes_ *= 4;
    block_.reset();
  }
}

NTSTATUS OpenRelative(HANDLE folder, const wchar_t* name, size_t length, ACCESS_MASK access, ULONG options,
                      UniqueFile* opened, ULONG share, ULONG disposition) {
  if (length > 0x7FFF) return kStatusObjectNameNotFound;
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(name);
  text.Length = text.MaximumLength = static_cast<USHORT>(length * sizeof(wchar_t));
  OBJECT_ATTRIBUTES object = {};
  object.Length = sizeof(object);
  object.RootDirectory = folder;
  object.ObjectName = &text;
  object.Attributes = OBJ_CASE_INSENSITIVE;
  IO_STATUS_BLOCK status = {};
  HANDLE handle = INVALID_HANDLE_VALUE;
  // Never waits for another process to give up an oplock on the entry.
  const NTSTATUS result = g_fileSystem.openRelative(&handle, access, &object, &status, nullptr, 0, share, disposition,
                                                    options | kFileCompleteIfOplocked, nullptr, 0);
  opened->reset(result >= 0 ? handle : INVALID_HANDLE_VALUE);
  // One whose oplock is being broken is in use: it stays.
  if (result == kStatusOplockBreakInProgress) {
    opened->reset();
    return kStatusSharingViolation;
  }
  return result;
}

HRESULT FromOpenStatus(NTSTATUS status) {
  if (status == kStatusObjectNameNotFound || status == kStatusNoSuchFile || status == kStatusObjectPathNotFound)
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  // Someone else's deletion of it is under way.
  if (status == kStatusDeletePending) return HRESULT_FROM_WIN32(ERROR_DELETE_PENDING);
  return HResultFromNtStatus(status);
}

ExpectedEntry ExpectedFromListing(const HeldFolder& folder, const ListedEntry& listed) {
  return ExpectedEntry{&folder,        listed.name, listed.nameLength, listed.fileId, false,
                       IsLinkEntry(listed.attributes, listed.reparseTag)};
}

bool IsOpenedLink(HANDLE entry, DWORD attributes) {
  return IsLinkEntry(attributes, ReparseTagOf(entry, attributes));
}

bool ReachedAsChildOf(const wchar_t* reported, size_t reportedLength, const HeldFolder& folder, const wchar_t* name,
                      size_t nameLength) {
  // From the end: the child's own name, then the names of the folders
  // above it, up to the one that spells its whole reached name.
  size_t end = reportedLength, begin = end;
  while (begin > 0 && reported[begin - 1] != L'\\') --begin;
  if (begin == end || begin == 0 || !ReportsAs(reported + begin, end - begin, name, nameLength, true)) return false;
  end = begin - 1;
  const HeldFolder* at = &folder;
  for (; at->parent != nullptr; at = at->parent) {
    begin = end;
    while (begin > 0 && reported[begin - 1] != L'\\') --begin;
    if (begin == 0 || !ReportsAs(reported + begin, end - begin, at->name.Get(), at->name.Length(), false))
      return false;
    end = begin - 1;
  }
  return SameReachedName(reported, end, at->name.Get(), at->name.Length());
}

Verdict CheckOpened(HANDLE entry, OpenedFacts& facts, const ExpectedEntry& expected) {
  if (facts.Read(entry) < 0) return Verdict::kNotOwn;
  if (!expected.anyId && facts.FileId() != expected.fileId) return Verdict::kNotOwn;
  if (!ReachedAsChildOf(facts.Name(), facts.NameLength(), *expected.folder, expected.name, expected.length))
    return Verdict::kNotOwn;
  const bool link = IsOpenedLink(entry, facts.Info().fileAttributes);
  if (expected.listedAsLink) return link ? Verdict::kLinkItself : Verdict::kNotOwn;
  // An entry that was no link when listed must not be one now; one opened by
  // name alone is a link when it is one.
  if (link && !expected.anyId) return Verdict::kNotOwn;
  return link ? Verdict::kLinkItself : Verdict::kOwn;
}

HRESULT OpenOwn(const ExpectedEntry& expected, ACCESS_MASK access, ULONG options, UniqueFile* opened,
                OpenedFacts& facts, ULONG share) {
  const NTSTATUS status =
      OpenRelative(expected.folder->handle.get(), expected.name, expected.length, access, options, opened, share);
  if (status < 0) return FromOpenStatus(status);
  if (CheckOpened(opened->get(), facts, expected) == Verdict::kOwn) return S_OK;
  opened->reset();
  return kEntryNotOwn;
}

namespace {

HRESULT KeepChild(const HeldFolder& parent, UniqueFile&& opened, const OpenedFacts& facts, const wchar_t* name,
                  size_t length, NameKept kept, HeldFolder* child) {
  const bool whole = kept == NameKept::kWhole;
  if (!(whole ? child->name.Assign(facts.Name(), facts.NameLength()) : child->name.Assign(name, length)))
    return E_OUTOFMEMORY;
  child->handle = std::move(opened);
  child->parent = whole ? nullptr : &parent;
  child->fileId = facts.FileId();
  child->attributes = facts.Info().fileAttributes;
  return S_OK;
}

}  // namespace

HRESULT OpenCheckedChild(const HeldFolder& parent, const ListedEntry& listed, ACCESS_MASK access, NameKept kept,
                         HeldFolder* child) {
  const ExpectedEntry expected = ExpectedFromListing(parent, listed);
  if (expected.listedAsLink || (listed.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return kEntryNotOwn;
  UniqueFile opened;
  OpenedFacts facts;
  RETURN_IF_FAILED(OpenOwn(expected, access, kOpenItself | kFileDirectoryFile, &opened, facts));
  return KeepChild(parent, std::move(opened), facts, listed.name, listed.nameLength, kept, child);
}

HRESULT OpenChildFolder(const HeldFolder& parent, const wchar_t* name, size_t length, NameKept kept,
                        HeldFolder* child) {
  if (length == 0 || IsDotOrDotDot(name, length)) return E_INVALIDARG;
  const ExpectedEntry expected{&parent, name, length, 0, true, false};
  UniqueFile opened;
  OpenedFacts facts;
  RETURN_IF_FAILED(OpenOwn(expected, kListingAccess, kOpenItself, &opened, facts));
  if (!facts.IsFolder()) return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
  return KeepChild(parent, std::move(opened), facts, name, length, kept, child);
}

}  // namespace tmn
