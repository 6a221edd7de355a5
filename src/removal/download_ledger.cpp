#include "removal/download_ledger.h"

#include "base/heap.h"
#include "base/number.h"
#include "base/unique.h"
#include "fs/file_system_calls.h"
#include "fs/path_checks.h"
#include "removal/force_delete.h"
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

// Whether the download folder's path reaches path through a junction or
// directory link, which would lead a delete out of the folder. Only a step
// that does not exist ends the check (nothing lies beyond it); a step that
// cannot be looked up for any other reason may be a link, and refuses.
bool CrossesLink(const WideString& folder, const WideString& path) {
  WideString full, fullFolder;
  if (FAILED(GetFullPath(path.Get(), &full)) || FAILED(GetFullPath(folder.Get(), &fullFolder))) return true;
  while (fullFolder.EndsWith(L'\\')) fullFolder.Truncate(fullFolder.Length() - 1);
  for (size_t end = fullFolder.Length() + 1; end < full.Length(); ++end) {
    if (full[end] != L'\\' || full[end - 1] == L'\\') continue;
    WideString step;
    if (!step.Assign(full.Get(), end)) return true;
    WIN32_FIND_DATAW entry;
    UniqueFind find(g_fileSystem.findFirstFile(step.Get(), &entry));
    if (!find) {
      const DWORD error = ::GetLastError();
      return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    if (IsLinkEntry(entry.dwFileAttributes, entry.dwReserved0)) return true;
  }
  return false;
}

// The entry of a downloaded file, when its name lies below the folder and is
// reached through no link. The file itself may be a link; its entry says so.
bool FindDownload(const WideString& folder, const wchar_t* name, const WideString& path, WIN32_FIND_DATAW* entry) {
  if (folder.IsEmpty() || !IsNameBelowFolder(folder.Get(), name) || CrossesLink(folder, path)) return false;
  UniqueFind find(g_fileSystem.findFirstFile(path.Get(), entry));
  return static_cast<bool>(find);
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
    char digits[12];
    FormatInt32(entry.id, digits);
    wchar_t key[12];
    size_t i = 0;
    for (; digits[i] != '\0'; ++i) key[i] = static_cast<wchar_t>(digits[i]);
    key[i] = L'\0';
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
  const WideString folder = UsableHotfixDownloadDir();
  uint64_t total = 0;
  if (folder.IsEmpty()) return total;
  for (const LedgerEntry& download : downloads) {
    WideString path;
    WIN32_FIND_DATAW data;
    if (!path.Assign(folder) || !path.Append(L'\\') || !path.Append(download.value)) continue;
    if (FindDownload(folder, download.value.Get(), path, &data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      total += (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  return total;
}

bool DownloadLedger::IsReadWhole() const {
  return downloadsRead_ != SectionRead::kPartial && resultsRead_ != SectionRead::kPartial;
}

bool DownloadLedger::MeasuresEveryDownload() const {
  return IsReadWhole() && (downloads.IsEmpty() || !UsableHotfixDownloadDir().IsEmpty());
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
  WideString base;  // without its trailing backslashes, so one joins each name
  if (base.Assign(folder))
    while (base.EndsWith(L'\\')) base.Truncate(base.Length() - 1);
  for (const LedgerEntry& entry : selected) {
    WideString path;
    WIN32_FIND_DATAW data;
    if (!path.Assign(base) || !path.Append(L'\\') || !path.Append(entry.value)) continue;
    if (!FindDownload(folder, entry.value.Get(), path, &data)) continue;
    // A link goes as a link: its target keeps its attributes.
    if (!IsLinkEntry(data.dwFileAttributes, data.dwReserved0)) g_fileSystem.setFileAttributes(path.Get(), 0);
    g_fileSystem.deleteFile(path.Get());
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
