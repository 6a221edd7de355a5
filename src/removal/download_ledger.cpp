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

constexpr wchar_t kLedgerFileName[] = L"config.ini";
constexpr size_t kLedgerFileNameLength = 10;
// Read and written back through the one handle, judged by its access list.
constexpr ACCESS_MASK kLedgerAccess = FILE_READ_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL |
                                      SYNCHRONIZE;

// Whether a result says nothing of that name lies there.
bool IsNotThere(HRESULT result) {
  return result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

// Reaches the folder that holds the file a ledger value names below the
// held download folder: *at is downloads or step, the last folder opened,
// and *name and *length the file's name. Each folder of the value
// ("a\b\file") is opened relative to the one above and checked, never
// reached through a path. ERROR_FILE_NOT_FOUND when no such file lies
// there, or the name could not lie there (it leads out of the folder);
// another failure when something is there that was not reached (a link, a
// folder changed or refused).
HRESULT ReachDownload(const HeldFolder& downloads, const WideString& value, HeldFolder* step, const HeldFolder** at,
                      const wchar_t** name, size_t* length) {
  const wchar_t* text = value.Get();
  *at = &downloads;
  for (size_t begin = 0;;) {
    size_t end = begin;
    while (end < value.Length() && !IsPathSeparator(text[end])) ++end;
    if (!IsPlainName(text + begin, end - begin) || IsDotOrDotDot(text + begin, end - begin))
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    *name = text + begin;
    *length = end - begin;
    if (end == value.Length()) return S_OK;
    HeldFolder next;
    const HRESULT opened = OpenChildFolder(**at, *name, *length, NameKept::kWhole, &next);
    if (FAILED(opened)) return opened == HRESULT_FROM_WIN32(ERROR_DIRECTORY) ? HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
                                                                             : opened;
    *step = std::move(next);
    *at = step;
    begin = end + 1;
  }
}

bool IsInstalled(const Array<LedgerEntry>& results, int32_t id) {
  for (const LedgerEntry& result : results)
    if (result.id == id && ParseDecimalInt32(result.value.Get()) != 0) return true;
  return false;
}

void DropFirstWithId(Array<LedgerEntry>& list, int32_t id) {
  for (LedgerEntry& entry : list) {
    if (entry.id == id && !entry.gone) {
      entry.gone = true;
      return;
    }
  }
}

}  // namespace

DownloadLedger::DownloadLedger() { GetConfigFilePath(&filePath, true); }

HRESULT DownloadLedger::OpenAndRead(const WideString& cfg) {
  WideString refusedLink;
  RETURN_IF_FAILED(LogRefusedLink(OpenFolderByPath(cfg, rule_.Links(), &cfg_, &refusedLink), refusedLink));
  const ExpectedEntry expected{&cfg_.folder, kLedgerFileName, kLedgerFileNameLength, 0, true, false};
  OpenedFacts facts;
  HRESULT why = OpenOwn(expected, kLedgerAccess, kOpenItself | kFileNonDirectoryFile, &file_, facts, FILE_SHARE_READ);
  if (why == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
    read_ = true;  // no ledger: nothing listed
    return S_OK;
  }
  const uint64_t size = SUCCEEDED(why) ? static_cast<uint64_t>(facts.Info().endOfFile.QuadPart) : 0;
  if (SUCCEEDED(why) && size > kLargestLedgerFile) why = kLedgerTooLarge;
  if (SUCCEEDED(why)) {
    size_ = static_cast<size_t>(size);
    bytes_.reset(HeapAllocate(size_ + 1));
    DWORD got = 0;
    why = !bytes_ ? E_OUTOFMEMORY
          : !::ReadFile(file_.get(), bytes_.get(), static_cast<DWORD>(size_), &got, nullptr) ? HResultFromLastError()
          : got != size_ ? HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)
                         : S_OK;
    read_ = SUCCEEDED(why);
  }
  if (SUCCEEDED(why) && facts.Info().numberOfLinks > 1) why = kLedgerHasSecondName;
  if (SUCCEEDED(why) && !rule_.OnlySystemMayChange(file_.get(), cfg_.folder.handle.get()))
    why = kLedgerOthersMayChange;
  if (FAILED(why)) LogIgnoredLedger(filePath, why);
  return why;
}

ProfileText DownloadLedger::Text() const {
  return ReadProfileText(static_cast<const BYTE*>(bytes_.get()), bytes_ ? size_ : 0);
}

void DownloadLedger::Load() {
  // The "Cfg" folder of that path.
  WideString cfg;
  if (filePath.Length() > kLedgerFileNameLength + 1 &&
      cfg.Assign(filePath.Get(), filePath.Length() - kLedgerFileNameLength - 1))
    obeyed_ = OpenAndRead(cfg);
  if (!read_) return;
  const ProfileText text = Text();
  downloadsRead_ = ParseSection(text, kDownloadsSection, downloads);
  resultsRead_ = ParseSection(text, kResultsSection, results);
}

const WideString& DownloadLedger::DownloadFolder() {
  if (!downloadFolderKnown_ && read_) {
    downloadFolderKnown_ = true;
    // Absent, the default; a value the product's own reading would cut may
    // name another folder.
    if (!FindProfileValue(Text(), L"VulMain", L"DownPath", &downloadFolderPath_))
      GetInstallSubPath(&downloadFolderPath_, kHotfixFolder, false);
    else if (downloadFolderPath_.Length() >= kSettingChars)
      downloadFolderPath_.Clear();
  }
  return downloadFolderPath_;
}

HRESULT DownloadLedger::HoldDownloadFolder() {
  if (folderHeld_ != S_FALSE) return folderHeld_;
  const WideString& folder = DownloadFolder();
  WideString refusedLink;
  folderHeld_ = folder.IsEmpty() ? E_INVALIDARG
                                 : LogRefusedLink(OpenFolderByPath(folder, rule_.Links(), &downloadFolder_,
                                                                   &refusedLink),
                                                  refusedLink);
  if (folderHeld_ == S_FALSE) folderHeld_ = S_OK;
  return folderHeld_;
}

uint64_t DownloadLedger::TotalDownloadedSize() {
  uint64_t total = 0;
  if (downloads.IsEmpty() || FAILED(HoldDownloadFolder())) return total;
  OpenedFacts facts;
  for (const LedgerEntry& download : downloads) {
    HeldFolder step;
    const HeldFolder* folder = nullptr;
    const wchar_t* name = nullptr;
    size_t length = 0;
    UniqueFile file;
    if (SUCCEEDED(ReachDownload(downloadFolder_.folder, download.value, &step, &folder, &name, &length)) &&
        SUCCEEDED(OpenOwn(ExpectedEntry{folder, name, length, 0, true, false}, FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                          kOpenItself | kFileNonDirectoryFile, &file, facts)))
      total += static_cast<uint64_t>(facts.Info().endOfFile.QuadPart);
  }
  return total;
}

bool DownloadLedger::IsReadWhole() const {
  return read_ && downloadsRead_ != SectionRead::kPartial && resultsRead_ != SectionRead::kPartial;
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
  if (FAILED(obeyed_) || downloads.IsEmpty() || !IsReadWhole()) return 1;
  // Every file goes through the one download folder held here, never
  // through its path again. A line leaves the ledger only when its file is
  // gone, or never was there.
  HRESULT held = S_FALSE;
  DeletionRun run;
  bool changed = false;
  for (LedgerEntry& entry : downloads) {
    if (!IsInstalled(results, entry.id)) continue;
    if (held == S_FALSE) held = HoldDownloadFolder();
    HeldFolder step;
    const HeldFolder* folder = nullptr;
    const wchar_t* name = nullptr;
    size_t length = 0;
    HRESULT gone = SUCCEEDED(held) ? ReachDownload(downloadFolder_.folder, entry.value, &step, &folder, &name, &length)
                                   : held;
    if (SUCCEEDED(gone)) {
      // Read-only or not; a link goes as a link where the system opens it
      // as one, and stays otherwise.
      gone = DeleteEntry(EntryToDelete{{folder, name, length, 0, true, false}, EntryKind::kFile, false}, run);
      if (SUCCEEDED(gone) && StillHolds(*folder, name, length, run.facts.FileId(), run.facts))
        gone = HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
    }
    if (FAILED(gone) && !IsNotThere(gone)) continue;
    entry.gone = true;
    DropFirstWithId(results, entry.id);
    changed = true;
  }
  if (changed) WriteBack();
  return 1;
}

bool DownloadLedger::WriteBack() {
  size_t size = 0;
  const UniqueHeapBlock text = RewriteSections(Text(), kDownloadsSection, downloads, kResultsSection, results, &size);
  LARGE_INTEGER start = {};
  DWORD written = 0;
  // Never longer than what was read: one write, then the end moved.
  return text && ::SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN) &&
         ::WriteFile(file_.get(), text.get(), static_cast<DWORD>(size), &written, nullptr) && written == size &&
         ::SetEndOfFile(file_.get());
}

}  // namespace tmn
