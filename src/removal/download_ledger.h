// The product's ledger of downloaded hotfixes: "DownFiles" maps an id to
// the file name of a download below the hotfix download folder,
// "InstedRet" maps the same id to its install result (not 0: installed).
// The hotfix cleanup deletes the downloads of installed hotfixes and
// rewrites both sections without their entries.
//
// The elevated uninstaller obeys the ledger only when it is the product's
// own: "Cfg" reached from the volume root through checked handles,
// config.ini opened relative to it as itself, no link and of one name, and
// neither it nor "Cfg" open to changes by anyone who may not write the
// system folder. The file is read through that handle, held while the
// ledger lives with no one else writing, renaming or deleting it, and
// written back in place through the same handle, never by path: so it
// cannot be swapped between the reading and the writing. A ledger that is
// not the product's own is measured as usual, but deletes nothing and stays
// as it is, and the statistic log says why.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/array.h"
#include "base/unique.h"
#include "base/wide_string.h"
#include "fs/folder_by_path.h"
#include "removal/ledger_text.h"
#include "security/system_writers.h"

namespace tmn {

constexpr wchar_t kDownloadsSection[] = L"DownFiles";
constexpr wchar_t kResultsSection[] = L"InstedRet";

// The largest configuration file that is read.
constexpr uint64_t kLargestLedgerFile = 32 * 1024 * 1024;

// Why a ledger is not obeyed, besides the failure met reading it: a link
// or another entry than config.ini itself (kEntryNotOwn), in use
// (ERROR_SHARING_VIOLATION).
constexpr HRESULT kLedgerHasSecondName = HRESULT_FROM_WIN32(ERROR_TOO_MANY_LINKS);
constexpr HRESULT kLedgerOthersMayChange = E_ACCESSDENIED;
constexpr HRESULT kLedgerTooLarge = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);

class DownloadLedger {
 public:
  // The ledger file is the configuration file; its "Cfg" folder is made.
  DownloadLedger();

  // Opens, judges and reads the file, then takes "DownFiles" and
  // "InstedRet". Once.
  void Load();

  // Bytes of the listed downloads that exist. Names that would lead out of
  // the hotfix download folder are never measured.
  uint64_t TotalDownloadedSize();

  // Whether the total can see every listed download: the file was read and
  // both sections whole and, when anything is listed, the download folder
  // is usable and opens as itself (or is not there at all).
  bool MeasuresEveryDownload();

  // Deletes the downloads of installed hotfixes (the first result of the
  // same id that is not 0 decides), each relative to the download folder
  // held since it was first reached, and marks gone in both lists the
  // entries whose file is gone or never was there; then writes the file
  // back once, without their lines. A download that stays (a link on its way, refused,
  // or a folder that could not be reached) keeps its entries. A ledger not
  // obeyed or not read whole is left as it is, and so are its files. Names
  // that would lead out of the folder name no file of it: they are not
  // deleted, and their entries go. Nothing is written when no entry went.
  // Always 1.
  int DeleteInstalledDownloads();

  // S_OK when the ledger is obeyed (or there is none), else why not.
  HRESULT Obeyed() const { return obeyed_; }

  // The hotfix download folder the file names ("VulMain" "DownPath"), or
  // the default below the install folder; empty when it cannot be told
  // (the file could not be read, or its value would arrive cut).
  const WideString& DownloadFolder();

  Array<LedgerEntry> downloads;
  Array<LedgerEntry> results;
  WideString filePath;

 private:
  HRESULT OpenAndRead(const WideString& cfg);
  ProfileText Text() const;
  bool IsReadWhole() const;
  // Reaches the hotfix download folder once and holds it for the life of
  // the ledger: S_OK, or why it could not be (E_INVALIDARG when it is not
  // usable).
  HRESULT HoldDownloadFolder();
  bool WriteBack();

  SystemRule rule_;
  HeldPath cfg_;
  UniqueFile file_;
  UniqueHeapBlock bytes_;
  size_t size_ = 0;
  bool read_ = false;  // the file was read, or there is none
  HRESULT obeyed_ = E_UNEXPECTED;
  WideString downloadFolderPath_;
  bool downloadFolderKnown_ = false;
  HeldPath downloadFolder_;
  HRESULT folderHeld_ = S_FALSE;  // S_FALSE: not tried yet
  SectionRead downloadsRead_ = SectionRead::kNothing;
  SectionRead resultsRead_ = SectionRead::kNothing;
};

}  // namespace tmn
