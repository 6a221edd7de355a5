#include "fs/entry_delete.h"

#include <utility>

#include "base/result.h"
#include "fs/file_system_calls.h"
#include "fs/folder_by_path.h"

namespace tmn {

namespace {

constexpr ACCESS_MASK kDeleteAccess = DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ACCESS_MASK kClearReadOnlyAccess = kDeleteAccess | FILE_WRITE_ATTRIBUTES;
// How long a folder whose entries are still on their way out is given.
constexpr DWORD kPendingEntriesMs = 20;

// Set once Windows has said it knows no POSIX delete (before Windows 10,
// and under Wine): every later delete takes the classic way at once.
volatile LONG g_noPosixDelete = 0;

ULONG OptionsFor(EntryKind kind) {
  return kOpenItself | (kind == EntryKind::kFolder ? kFileDirectoryFile
                        : kind == EntryKind::kFile ? kFileNonDirectoryFile
                                                   : 0);
}

NTSTATUS OpenToDelete(const ExpectedEntry& entry, ACCESS_MASK access, EntryKind kind, UniqueFile* opened) {
  return OpenRelative(entry.folder->handle.get(), entry.name, entry.length, access, OptionsFor(kind), opened);
}

// Whether the call said it does not know the information class at all,
// rather than refusing this entry.
bool IsUnknownClass(NTSTATUS status) { return status == kStatusNotImplemented || status == kStatusInvalidInfoClass; }

// The name goes at once, read-only or not. kStatusNotSupported where this
// volume or this Windows has no POSIX delete.
NTSTATUS PosixDelete(HANDLE entry) {
  if (g_noPosixDelete) return kStatusNotSupported;
  ULONG flags = kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly;
  IO_STATUS_BLOCK status = {};
  const NTSTATUS deleted =
      g_fileSystem.setInformation(entry, &status, &flags, sizeof(flags), kFileDispositionInformationEx);
  if (IsUnknownClass(deleted)) ::InterlockedExchange(&g_noPosixDelete, 1);
  if (IsUnknownClass(deleted) || deleted == kStatusInvalidParameter) return kStatusNotSupported;
  return deleted;
}

// The classic delete of a read-only entry: reopened for its attributes
// relative to its folder and checked again, read-only cleared, deleted, and
// given its attribute back when it stays or lives on under another name.
NTSTATUS DeleteClearingReadOnly(const ExpectedEntry& entry, EntryKind kind, const RefusedDeleteHook* hook) {
  UniqueFile writable;
  OpenedFacts facts;
  if (FAILED(OpenOwn(entry, kClearReadOnlyAccess, OptionsFor(kind), &writable, facts))) return kStatusAccessDenied;
  const DWORD attributes = facts.Info().fileAttributes;
  const bool multiLinked = !facts.IsFolder() && facts.Info().numberOfLinks > 1;
  const DWORD without = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  NTSTATUS status = SetAttributesOf(writable.get(), without);
  if (status < 0 && RepairRefusedStep(entry, RefusedStep::kClearReadOnly, status, hook))
    status = SetAttributesOf(writable.get(), without);
  const bool cleared = status >= 0;
  const NTSTATUS deleted = ClassicDelete(writable.get());
  if (cleared && (deleted < 0 || multiLinked)) SetAttributesOf(writable.get(), attributes);
  return deleted;
}

// Deletes the checked entry through entry, its opened handle.
NTSTATUS DeleteChecked(HANDLE opened, const ExpectedEntry& entry, EntryKind kind, DWORD attributes,
                       const RefusedDeleteHook* hook) {
  const NTSTATUS posix = PosixDelete(opened);
  if (posix != kStatusNotSupported) return posix;
  if (attributes & FILE_ATTRIBUTE_READONLY) return DeleteClearingReadOnly(entry, kind, hook);
  return ClassicDelete(opened);
}

}  // namespace

NTSTATUS ClassicDelete(HANDLE entry) {
  BOOLEAN disposition = TRUE;
  IO_STATUS_BLOCK status = {};
  return g_fileSystem.setInformation(entry, &status, &disposition, sizeof(disposition), kFileDispositionInformation);
}

NTSTATUS SetAttributesOf(HANDLE entry, DWORD attributes) {
  NtBasicInformation basic = {};  // zero times: left as they are
  basic.fileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  IO_STATUS_BLOCK status = {};
  return g_fileSystem.setInformation(entry, &status, &basic, sizeof(basic), kFileBasicInformation);
}

HRESULT DeleteEntry(const EntryToDelete& entry, UniqueFile* held, OpenedFacts& facts, const RefusedDeleteHook* hook) {
  const ExpectedEntry& expected = entry.expected;
  const RefusedStep removal = entry.kind == EntryKind::kFolder ? RefusedStep::kRemoveFolder : RefusedStep::kDeleteFile;
  UniqueFile opened;
  if (held != nullptr) opened = std::move(*held);
  if (!opened) {
    NTSTATUS status = OpenToDelete(expected, kDeleteAccess, entry.kind, &opened);
    if (RepairRefusedStep(expected, removal, status, hook))
      status = OpenToDelete(expected, kDeleteAccess, entry.kind, &opened);
    if (status == kStatusDeletePending) return S_OK;
    if (status < 0) return FromOpenStatus(status);
  }
  const Verdict verdict = CheckOpened(opened.get(), facts, expected);
  if (verdict == Verdict::kNotOwn) return kEntryNotOwn;
  // A link itself goes, never repaired or changed.
  if (verdict == Verdict::kLinkItself) return ClassicDelete(opened.get()) >= 0 ? S_OK : kEntryNotOwn;

  // From here on the entry is the one just checked, id and kind known.
  const bool folder = facts.IsFolder();
  const EntryKind kind = folder ? EntryKind::kFolder : EntryKind::kFile;
  ExpectedEntry checked = expected;
  checked.fileId = facts.FileId();
  checked.anyId = false;
  const DWORD attributes = facts.Info().fileAttributes;
  NTSTATUS deleted = DeleteChecked(opened.get(), checked, kind, attributes, hook);
  if (RepairRefusedStep(checked, folder ? RefusedStep::kRemoveFolder : RefusedStep::kDeleteFile, deleted, hook)) {
    // Access is granted when a handle is opened: the one retry goes through
    // a handle opened after the repair, checked as the first.
    UniqueFile fresh;
    deleted = SUCCEEDED(OpenOwn(checked, kDeleteAccess, OptionsFor(kind), &fresh, facts))
                  ? DeleteChecked(fresh.get(), checked, kind, attributes, nullptr)
                  : kStatusAccessDenied;
  }
  if (deleted == kStatusDirectoryNotEmpty && folder && entry.retryWhenNotEmpty) {
    ::Sleep(kPendingEntriesMs);
    deleted = DeleteChecked(opened.get(), checked, kind, attributes, nullptr);
  }
  return HResultFromNtStatus(deleted);
}

HRESULT RemoveEmptyFolder(const WideString& path, WideString* refusedLink) {
  HeldFolder parent;
  FoundEntry last;
  RETURN_IF_FAILED(ReachParentOf(path, &parent, &last, refusedLink));
  if (!last.IsFolder()) return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
  OpenedFacts facts;
  const EntryToDelete entry{{&parent, last.name.Get(), last.name.Length(), last.fileId, false, last.IsLink()},
                            EntryKind::kFolder,
                            false};
  return DeleteEntry(entry, nullptr, facts, nullptr);
}

}  // namespace tmn
