#include "removal/download_ledger.h"

#include <utility>

#include "base/heap.h"
#include "base/number.h"
#include "fs/path_checks.h"
#include "fs/tree_delete.h"
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

// Finds the download of that name below the usable hotfix download folder
// and hands act the folder holding it and its listed entry. The folder is
// opened anew for each name: a folder handle keeps the first name it was
// searched for, so a second search through it would find nothing. Each folder of the
// name ("a\b\file") is opened relative to the handle of the one above and
// checked, never reached through a path: a step that is a link, changed,
// missing or refused ends the search, and so does a name that is no file.
template <typename Act>
void WithDownload(const WideString& downloadFolder, const WideString& name, Act act) {
  const wchar_t* text = name.Get();
  const size_t length = name.Length();
  HeldEntry folder;
  if (downloadFolder.IsEmpty() || FAILED(OpenFolderByPath(downloadFolder, &folder))) return;
  for (size_t begin = 0;;) {
    size_t end = begin;
    while (end < length && text[end] != L'\\' && text[end] != L'/') ++end;
    if (!IsPlainName(text + begin, end - begin)) return;
    if (end == length) {
      FolderListing listing(folder.handle.get());
      ListedEntry entry;
      if (listing.Find(text + begin, end - begin, &entry) == S_OK && (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        act(folder, entry);
      return;
    }
    HeldEntry next;
    if (FAILED(OpenChildFolder(folder, text + begin, end - begin, &next))) return;
    folder = std::move(next);
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
      if (entry.value.Assign(line + value, length - value))
        list.Push(static_cast<LedgerEntry&&>(entry));  // without memory, the entry is dropped
    }
    at += length + 1;
  }
  return cut ? SectionRead::kPartial : SectionRead::kWhole;
}

SectionRead LoadSection(Array<LedgerEntry>& list, const wchar_t* file, const wchar_t* section) {
  if (!IsFullyQualifiedPath(file)) return SectionRead::kNothing;
  UniqueHeapBlock block(HeapAllocateZeroed(kSectionBufferChars * sizeof(wchar_t)));
  const auto* buffer = static_cast<wchar_t*>(block.get());
  if (buffer == nullptr) return SectionRead::kNothing;
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

uint64_t DownloadLedger::TotalDownloadedSize() const {
  uint64_t total = 0;
  const WideString folder = UsableHotfixDownloadDir();
  for (const LedgerEntry& download : downloads)
    WithDownload(folder, download.value, [&](const HeldEntry&, const ListedEntry& entry) { total += entry.size; });
  return total;
}

bool DownloadLedger::IsReadWhole() const {
  return downloadsRead_ != SectionRead::kPartial && resultsRead_ != SectionRead::kPartial;
}

bool DownloadLedger::MeasuresEveryDownload() const {
  if (!IsReadWhole()) return false;
  if (downloads.IsEmpty()) return true;
  // The folder opens as itself, or nothing is there to measure.
  const WideString folder = UsableHotfixDownloadDir();
  HeldEntry held;
  const HRESULT opened = folder.IsEmpty() ? E_INVALIDARG : OpenFolderByPath(folder, &held);
  return SUCCEEDED(opened) || opened == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
         opened == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
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

  const WideString folder = UsableHotfixDownloadDir();
  for (const LedgerEntry& entry : selected) {
    // Read-only is cleared through the file's own handle; a link goes as a
    // link where the system can remove it so, and stays otherwise.
    WithDownload(folder, entry.value,
                 [](const HeldEntry& parent, const ListedEntry& listed) { DeleteChild(parent, listed, nullptr); });
  }
  for (const LedgerEntry& entry : selected) {
    RemoveFirstWithId(downloads, entry.id);
    RemoveFirstWithId(results, entry.id);
  }
  SaveSection(filePath.Get(), kDownloadsSection, downloads);
  SaveSection(filePath.Get(), kResultsSection, results);
  return 1;
}

}  // namespace tmn
