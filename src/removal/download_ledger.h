// The product's ledger of downloaded hotfixes: "DownFiles" maps an id to
// the file name of a download below the hotfix download folder,
// "InstedRet" maps the same id to its install result (not 0: installed).
// The hotfix cleanup deletes the downloads of installed hotfixes and
// rewrites both sections without their entries.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/array.h"
#include "base/wide_string.h"
#include "fs/folder_by_path.h"

namespace tmn {

constexpr wchar_t kDownloadsSection[] = L"DownFiles";
constexpr wchar_t kResultsSection[] = L"InstedRet";

// A section read whole is at most this many characters.
constexpr DWORD kSectionBufferChars = 0x10000;

struct LedgerEntry {
  int32_t id = 0;  // the key's number; no digits give 0
  WideString value;
};

enum class SectionRead {
  kNothing,  // missing or empty: the list is unchanged
  kWhole,    // every line was read
  kPartial,  // the walk stopped early: rewriting would drop lines
};

// The walk over the lines of one section (each ended by a NUL, count
// characters in all, as the profile call returns them): "key=value" lines
// with both parts non-empty are appended, blanks and tabs after "=" are
// skipped. A line without "=" ends the walk, as does the end of a section
// that was cut (its last line may be cut too and is not taken) and a line
// that memory cannot hold: each gives kPartial.
SectionRead ParseSectionLines(const wchar_t* lines, size_t count, bool cut, Array<LedgerEntry>& list);

// Appends the entries of section in file to list; kPartial when memory for
// reading it runs out.
SectionRead LoadSection(Array<LedgerEntry>& list, const wchar_t* file, const wchar_t* section);

// Replaces section in file by the entries of list, keys written as
// decimal numbers. Always 1.
int SaveSection(const wchar_t* file, const wchar_t* section, const Array<LedgerEntry>& list);

class DownloadLedger {
 public:
  // The ledger file is the configuration file; its "Cfg" folder is made.
  DownloadLedger();

  // "DownFiles", then "InstedRet".
  void Load();

  // Bytes of the listed downloads that exist. Names that would lead out of
  // the hotfix download folder are never measured.
  uint64_t TotalDownloadedSize();

  // Whether the total can see every listed download: both sections were
  // read whole and, when anything is listed, the download folder is usable
  // and opens as itself (or is not there at all).
  bool MeasuresEveryDownload();

  // Deletes the downloads of installed hotfixes (the first result of the
  // same id that is not 0 decides), each relative to the download folder
  // held since it was first reached, and removes from both lists the
  // entries whose file is gone or never was there; then rewrites both
  // sections. A download that stays (a link on its way, refused, or a
  // folder that could not be reached) keeps its entries. A ledger not read
  // whole is left as it is, and so are its files. Names that would lead out
  // of the folder name no file of it: they are not deleted, and their
  // entries go. Nothing is written when no entry went. Always 1.
  int DeleteInstalledDownloads();

  Array<LedgerEntry> downloads;
  Array<LedgerEntry> results;
  WideString filePath;

 private:
  bool IsReadWhole() const;
  // Reaches the hotfix download folder once and holds it for the life of
  // the ledger: S_OK, or why it could not be (E_INVALIDARG when it is not
  // usable).
  HRESULT HoldDownloadFolder();

  HeldPath downloadFolder_;
  HRESULT folderHeld_ = S_FALSE;  // S_FALSE: not tried yet
  SectionRead downloadsRead_ = SectionRead::kNothing;
  SectionRead resultsRead_ = SectionRead::kNothing;
};

}  // namespace tmn
