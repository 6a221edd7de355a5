#include "removal/download_ledger.h"

#include <utility>

#include "base/heap.h"
#include "base/number.h"
#include "base/result.h"
#include "base/unique.h"
#include "fs/checked_open.h"
#include "fs/entry_delete.h"
#include "fs/entry_names.h"
#include "fs/path_checks.h"
#include "removal/refused_link_log.h"
#include "settings/download_folders.h"
#include "settings/product_settings.h"

namespace tmn {

namespace {

// The hotfix download folder when it is usable: fully qualified and read
// whole. Otherwise empty, and nothing below it is measured or deleted.
WideString UsableHotfixDownloadDir() {
  WideString configFile, folder;
  GetConfigFilePath(&configFile, true);
  if (FAILED(GetHotfixDownloadDir(configFile.Get(), &folder)) || !IsFullyQualifiedPath(folder.Get()))
    folder.Clear();
  return folder;
}

// Whether a result says nothing of that name lies there.
bool IsNotThere(HRESULT result) {
  return result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

// Finds the file a ledger value names below the held download folder and
// hands act the folder holding it and its name. Each folder of the name
// ("a\b\file") is opened relative to the one above and checked, never
// reached through a path. ERROR_FILE_NOT_FOUND when no such file lies
// there, or the name could not lie there (it leads out of the folder);
// another failure when something is there that was not reached (a link, a
// folder changed or refused); else what act returns.
template <typename Act>
HRESULT WithDownload(const HeldFolder& downloads, const WideString& name, Act act) {
  const wchar_t* text = name.Get();
  const size_t length = name.Length();
  const HeldFolder* folder = &downloads;
  HeldFolder step;
  for (size_t begin = 0;;) {
    size_t end = begin;
    while (end < length && text[end] != L'\\' && text[end] != L'/') ++end;
    if (!IsPlainName(text + begin, end - begin) || IsDotOrDotDot(text + begin, end - begin))
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (end == length) return act(*folder, text + begin, end - begin);
    HeldFolder next;
    const HRESULT opened = OpenChildFolder(*folder, text + begin, end - begin, NameKept::kWhole, &next);
    if (FAILED(opened)) return opened == HRESULT_FROM_WIN32(ERROR_DIRECTORY) ? HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
                                                                             : opened;
    step = std::move(next);
    folder = &step;
    begin = end + 1;
  }
}

bool IsInstalled(const Array<LedgerEntry>& results, int32_t id) {
  for (const LedgerEntry& result : results)
    if (result.id == id && ParseDecimalInt32(result.value.Get()) != 0) return true;
  return false;
}

void RemoveFirstWithId(Array<LedgerEntry>& list, int32_t id) {
  for (size_t i = 0; i < list.Size(); ++i) {
    if (list[i].id == id) {
      list.RemoveAt(i);
      return;
    }
  }
}

}  // namespace

SectionRead ParseSectionLines(const wchar_t* lines, size_t count, bool cut, Array<LedgerEntry>& list) {
  if (count == 0) return SectionRead::kNothing;
  size_t at = 0;
  while (at < count && lines[at] != L'\0') {
    const wchar_t* line = lines + at;
    size_t length = 0;
    while (line[length] != L'\0') ++length;
    // A cut section ends in the middle of its last line.
    if (cut && at + length >= count) return SectionRead::kPartial;
    size_t equals = 0;
    while (equals < length && line[equals] != L'=') ++equals;
    if (equals == length) return SectionRead::kPartial;
    size_t value = equals + 1;
    while (line[value] == L' ' || line[value] == L'\t') ++value;
    if (equals > 0 && value < length) {
      LedgerEntry entry;
      entry.id = ParseDecimalInt32(line);  // the number stops at the "=" at the latest
      // A line dropped for want of memory would be lost when the section
      // is written back: the section counts as not read whole.
      if (!entry.value.Assign(line + value, length - value) || !list.Push(static_cast<LedgerEntry&&>(entry)))
        return SectionRead::kPartial;
    }
    at += length + 1;
  }
  return cut ? SectionRead::kPartial : SectionRead::kWhole;
}

SectionRead LoadSection(Array<LedgerEntry>& list, const wchar_t* file, const wchar_t* section) {
  if (!IsFullyQualifiedPath(file)) return SectionRead::kNothing;
  UniqueHeapBlock block(HeapAllocateZeroed(kSectionBufferChars * sizeof(wchar_t)));
  const auto* buffer = static_cast<wchar_t*>(block.get());
  if (buffer == nullptr) return SectionRead::kPartial;  // unread, not known to be empty
  const DWORD count =
      ::GetPrivateProfileSectionW(section, static_cast<wchar_t*>(block.get()), kSectionBufferChars, file);
  // The call returns the buffer's size less two when the section did not fit.
  return ParseSectionLines(buffer, count, count >= kSectionBufferChars - 2, list);
}

int SaveSection(const wchar_t* file, const wchar_t* section, const Array<LedgerEntry>& list) {
  ::WritePrivateProfileSectionW(section, nullptr, file);
  for (const LedgerEntry& entry : list) {
    wchar_t key[12];
    FormatInt32(entry.id, key);
    ::WritePrivateProfileStringW(section, key, entry.value.Get(), file);
  }
  return 1;
}

DownloadLedger::DownloadLedger() { GetConfigFilePath(&filePath, true); }

void DownloadLedger::Load() {
  downloadsRead_ = LoadSection(downloads, filePath.Get(), kDownloadsSection);
  resultsRead_ = LoadSection(results, filePath.Get(), kResultsSection);
}

HRESULT DownloadLedger::HoldDownloadFolder() {
  if (folderHeld_ != S_FALSE) return folderHeld_;
  const WideString folder = UsableHotfixDownloadDir();
  WideString refusedLink;
  folderHeld_ = folder.IsEmpty() ? E_INVALIDARG
                                 : LogRefusedLink(OpenFolderByPath(folder, &downloadFolder_, &refusedLink), refusedLink);
  if (folderHeld_ == S_FALSE) folderHeld_ = S_OK;
  return folderHeld_;
}

uint64_t DownloadLedger::TotalDownloadedSize() {
  uint64_t total = 0;
  if (downloads.IsEmpty() || FAILED(HoldDownloadFolder())) return total;
  OpenedFacts facts;
  for (const LedgerEntry& download : downloads) {
    WithDownload(downloadFolder_.folder, download.value, [&](const HeldFolder& folder, const wchar_t* name,
                                                             size_t length) {
      UniqueFile file;
      const ExpectedEntry expected{&folder, name, length, 0, true, false};
      RETURN_IF_FAILED(OpenOwn(expected, FILE_READ_ATTRIBUTES | SYNCHRONIZE, kOpenItself | kFileNonDirectoryFile,
                               &file, facts));
      total += static_cast<uint64_t>(facts.Info().endOfFile.QuadPart);
      return S_OK;
    });
  }
  return total;
}

bool DownloadLedger::IsReadWhole() const {
  return downloadsRead_ != SectionRead::kPartial && resultsRead_ != SectionRead::kPartial;
}

bool DownloadLedger::MeasuresEveryDownload() {
  if (!IsReadWhole()) return false;
  if (downloads.IsEmpty()) return true;
  // The folder opens as itself, or nothing is there to measure.
  const HRESULT held = HoldDownloadFolder();
  return SUCCEEDED(held) || IsNotThere(held);
}

int DownloadLedger::DeleteInstalledDownloads() {
  // Deleting by a part of the ledger and rewriting the rest would leave the
  // sections and the files out of step: all three stay as they are.
  if (downloads.IsEmpty() || !IsReadWhole()) return 1;
  Array<LedgerEntry> selected;
  for (const LedgerEntry& download : downloads) {
    if (!IsInstalled(results, download.id)) continue;
    LedgerEntry copy;
    copy.id = download.id;
    if (copy.value.Assign(download.value)) selected.Push(static_cast<LedgerEntry&&>(copy));
  }
  if (selected.IsEmpty()) return 1;

  // Every file goes through the one download folder held here, never
  // through its path again. A line leaves the ledger only when its file is
  // gone, or never was there.
  const HRESULT held = HoldDownloadFolder();
  OpenedFacts facts;
  bool changed = false;
  for (const LedgerEntry& entry : selected) {
    HRESULT gone = held;
    if (SUCCEEDED(held)) {
      gone = WithDownload(downloadFolder_.folder, entry.value, [&](const HeldFolder& folder, const wchar_t* name,
                                                                   size_t length) {
        // Read-only or not; a link goes as a link where the system opens it
        // as one, and stays otherwise.
        const EntryToDelete file{{&folder, name, length, 0, true, false}, EntryKind::kFile, false};
        RETURN_IF_FAILED(DeleteEntry(file, nullptr, facts, nullptr));
        // Gone only when the folder no longer holds it: Wine deletes by path
        // when the handle closes, and a path can lead elsewhere by then.
        const uint64_t deleted = facts.FileId();
        UniqueFile still;
        return OpenRelative(folder.handle.get(), name, length, FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                            kOpenItself | kFileNonDirectoryFile, &still) >= 0 &&
                       facts.Read(still.get()) >= 0 && facts.FileId() == deleted
                   ? HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)
                   : S_OK;
      });
    }
    if (FAILED(gone) && !IsNotThere(gone)) continue;
    RemoveFirstWithId(downloads, entry.id);
    RemoveFirstWithId(results, entry.id);
    changed = true;
  }
  if (!changed) return 1;
  SaveSection(filePath.Get(), kDownloadsSection, downloads);
  SaveSection(filePath.Get(), kResultsSection, results);
  return 1;
}

}  // namespace tmn
