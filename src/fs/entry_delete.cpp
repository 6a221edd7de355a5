#include "fs/entry_delete.h"

#include <utility>

#include "base/result.h"
#include "fs/file_system_calls.h"

namespace tmn {

namespace {

constexpr ACCESS_MASK kDeleteAccess = DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ACCESS_MASK kClearReadOnlyAccess = kDeleteAccess | FILE_WRITE_ATTRIBUTES;
// How long a folder whose entries are still on their way out is given.
constexpr DWORD kPendingEntriesMs = 20;

ULONG OptionsFor(EntryKind kind) {
  return kOpenItself | (kind == EntryKind::kFolder ? kFileDirectoryFile
                        : kind == EntryKind::kFile ? kFileNonDirectoryFile
                                                   : 0);
}

NTSTATUS OpenToDelete(const ExpectedEntry& entry, EntryKind kind, UniqueFile* opened) {
  return OpenRelative(entry.folder->handle.get(), entry.name, entry.length, kDeleteAccess, OptionsFor(kind), opened);
}

// An entry whose check passed, as that check read it.
struct CheckedEntry {
  ExpectedEntry expected;  // its id known
  EntryKind kind;          // kFile or kFolder
  DWORD attributes;
  ULONG links;     // 0: not known
  HANDLE listing;  // a folder's own handle held since its listing, or null
};

RefusedStep RemovalStep(const CheckedEntry& entry) {
  return entry.kind == EntryKind::kFolder ? RefusedStep::kRemoveFolder : RefusedStep::kDeleteFile;
}

bool Repair(const CheckedEntry& entry, RefusedStep step, HRESULT refusal, const RefusedDeleteHook* hook) {
  return RepairRefusedStep(entry.expected, step, refusal, {entry.kind == EntryKind::kFolder, entry.links, entry.listing},
                           hook);
}

// The name goes at once, read-only or not. kStatusNotSupported where the
// volume has no POSIX delete (before Windows 10, FAT, Wine): the run then
// takes the classic way at once.
NTSTATUS PosixDelete(HANDLE entry, DeletionRun& run) {
  if (run.noPosixDelete) return kStatusNotSupported;
  ULONG flags = kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly;
  IO_STATUS_BLOCK status = {};
  const NTSTATUS deleted =
      g_fileSystem.setInformation(entry, &status, &flags, sizeof(flags), kFileDispositionInformationEx);
  if (deleted == kStatusNotImplemented || deleted == kStatusInvalidInfoClass || deleted == kStatusInvalidParameter ||
      deleted == kStatusNotSupported) {
    run.noPosixDelete = true;
    return kStatusNotSupported;
  }
  return deleted;
}

// The classic delete of a read-only entry: reopened for its attributes
// relative to its folder and checked again, read-only cleared, deleted, and
// given its attribute back when it stays.
HRESULT DeleteClearingReadOnly(const CheckedEntry& entry, DeletionRun& run, const RefusedDeleteHook* hook) {
  UniqueFile writable;
  const ULONG options = OptionsFor(entry.kind);
  // Windows grants the right to write attributes when the handle opens.
  HRESULT opened = OpenOwn(entry.expected, kClearReadOnlyAccess, options, &writable, run.facts);
  if (Repair(entry, RefusedStep::kClearReadOnly, opened, hook))
    opened = OpenOwn(entry.expected, kClearReadOnlyAccess, options, &writable, run.facts);
  RETURN_IF_FAILED(opened);
  const DWORD attributes = run.facts.Info().fileAttributes;
  const DWORD without = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  const bool cleared = SetAttributesOf(writable.get(), without) >= 0;
  const NTSTATUS deleted = ClassicDelete(writable.get());
  if (cleared && deleted < 0) SetAttributesOf(writable.get(), attributes);
  return HResultFromNtStatus(deleted);
}

// Deletes the checked entry through handle, its opened handle.
HRESULT DeleteChecked(HANDLE handle, const CheckedEntry& entry, DeletionRun& run, const RefusedDeleteHook* hook) {
  const NTSTATUS posix = PosixDelete(handle, run);
  if (posix != kStatusNotSupported) return HResultFromNtStatus(posix);
  if ((entry.attributes & FILE_ATTRIBUTE_READONLY) == 0) return HResultFromNtStatus(ClassicDelete(handle));
  // Read-only belongs to the file under every name it has.
  if (entry.kind == EntryKind::kFile && entry.links > 1) return HRESULT_FROM_WIN32(ERROR_FILE_READ_ONLY);
  return DeleteClearingReadOnly(entry, run, hook);
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

HRESULT DeleteEntry(const EntryToDelete& entry, DeletionRun& run, const HeldFolder* held, bool heldForDelete) {
  const ExpectedEntry& expected = entry.expected;
  CheckedEntry checked{expected, EntryKind::kFolder, 0, 0, held != nullptr ? held->handle.get() : nullptr};
  UniqueFile opened;
  HANDLE handle = nullptr;
  if (held != nullptr && heldForDelete) {
    // Checked when it was opened for its listing.
    handle = held->handle.get();
    checked.expected.fileId = held->fileId;
    checked.expected.anyId = false;
    checked.attributes = held->attributes;
  } else {
    checked.kind = entry.kind == EntryKind::kFolder ? EntryKind::kFolder : EntryKind::kFile;
    NTSTATUS status = OpenToDelete(expected, entry.kind, &opened);
    if (Repair(checked, RemovalStep(checked), FromOpenStatus(status), run.hook))
      status = OpenToDelete(expected, entry.kind, &opened);
    if (status == kStatusDeletePending) return S_OK;
    if (status < 0) return FromOpenStatus(status);
    const Verdict verdict = CheckOpened(opened.get(), run.facts, expected);
    if (verdict == Verdict::kNotOwn) return kEntryNotOwn;
    // A link itself goes, never repaired or changed.
    if (verdict == Verdict::kLinkItself) return HResultFromNtStatus(ClassicDelete(opened.get()));
    // From here on the entry is the one just checked, id and kind known.
    handle = opened.get();
    checked.kind = run.facts.IsFolder() ? EntryKind::kFolder : EntryKind::kFile;
    checked.expected.fileId = run.facts.FileId();
    checked.expected.anyId = false;
    checked.attributes = run.facts.Info().fileAttributes;
    checked.links = run.facts.Info().numberOfLinks;
  }
  HRESULT deleted = DeleteChecked(handle, checked, run, run.hook);
  if (Repair(checked, RemovalStep(checked), deleted, run.hook)) {
    // Access is granted when a handle is opened: the one retry goes through
    // a handle opened after the repair, checked as the first.
    UniqueFile fresh;
    deleted = OpenOwn(checked.expected, kDeleteAccess, OptionsFor(checked.kind), &fresh, run.facts);
    if (SUCCEEDED(deleted)) deleted = DeleteChecked(fresh.get(), checked, run, nullptr);
  }
  if (deleted == HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY) && checked.kind == EntryKind::kFolder &&
      entry.retryWhenNotEmpty) {
    ::Sleep(kPendingEntriesMs);
    deleted = DeleteChecked(handle, checked, run, nullptr);
  }
  return deleted;
}

bool StillHolds(const HeldFolder& folder, const wchar_t* name, size_t length, uint64_t fileId, OpenedFacts& facts) {
  UniqueFile still;
  return OpenRelative(folder.handle.get(), name, length, FILE_READ_ATTRIBUTES | SYNCHRONIZE, kOpenItself, &still) >=
             0 &&
         facts.Read(still.get()) >= 0 && facts.FileId() == fileId;
}

HRESULT RemoveEmptyFolder(const WideString& path, const LinkTrust* trust, WideString* refusedLink) {
  HeldFolder parent;
  FoundEntry last;
  RETURN_IF_FAILED(ReachParentOf(path, trust, &parent, &last, refusedLink));
  if (!last.IsFolder()) return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
  DeletionRun run;
  const EntryToDelete entry{{&parent, last.name.Get(), last.name.Length(), last.fileId, false, last.IsLink()},
                            EntryKind::kFolder,
                            false};
  return DeleteEntry(entry, run);
}

}  // namespace tmn
