#include "removal/download_cleanup.h"

#include "base/ascii.h"
#include "fs/entry_delete.h"
#include "fs/folder_by_path.h"
#include "fs/folder_identity.h"
#include "fs/folder_listing.h"
#include "fs/tree_delete.h"
#include "removal/download_ledger.h"
#include "removal/folder_walk.h"
#include "removal/refused_link_log.h"
#include "security/system_writers.h"
#include "settings/download_folders.h"
#include "settings/product_settings.h"

namespace tmn {

namespace {

const wchar_t* const kPackageExtensions[] = {L".exe", L".msu", L".zip"};
const wchar_t* const kLeftoverSuffixes[] = {L".tmp", L".nfo", L"_kt", L"_kti", L".fd", L".fd.cfg", L"c"};

bool EndsWithIgnoringCase(const wchar_t* name, size_t nameLength, const wchar_t* extension,
                          const wchar_t* suffix) {
  const size_t extensionLength = TextLength(extension), suffixLength = TextLength(suffix);
  const size_t endingLength = extensionLength + suffixLength;
  if (nameLength <= endingLength) return false;
  const wchar_t* ending = name + nameLength - endingLength;
  return EqualsIgnoringAsciiCase(ending, extension, extensionLength) &&
         EqualsIgnoringAsciiCase(ending + extensionLength, suffix, suffixLength);
}

WideString DefaultDir(const wchar_t* relative) {
  WideString folder;
  GetInstallSubPath(&folder, relative, true);
  return folder;
}

// The configured folder, or empty when it arrived cut and so may name
// another folder.
WideString ConfiguredDir(HRESULT (*getter)(const wchar_t*, WideString*), const WideString& configFile) {
  WideString folder;
  if (FAILED(getter(configFile.Get(), &folder))) folder.Clear();
  return folder;
}

void CleanKind(const wchar_t* defaultFolder, HRESULT (*getter)(const wchar_t*, WideString*),
               const WideString& answer) {
  WideString configFile;
  GetConfigFilePath(&configFile, true);
  const WideString defaultDir = DefaultDir(defaultFolder);
  const WideString configuredDir = ConfiguredDir(getter, configFile);
  CleanDownloadFolder(defaultDir, configuredDir, answer);
}

}  // namespace

bool IsYes(const WideString& answer) { return answer.Equals(L"y"); }

bool IsLeftoverName(const wchar_t* name, size_t length) {
  for (const wchar_t* extension : kPackageExtensions)
    for (const wchar_t* suffix : kLeftoverSuffixes)
      if (EndsWithIgnoringCase(name, length, extension, suffix)) return true;
  return false;
}

bool IsLeftoverName(const wchar_t* name) { return IsLeftoverName(name, TextLength(name)); }

uint64_t GetFolderSize(const WideString& folder, bool recursive) { return WalkFolder(folder, recursive, true); }

int DeleteLeftoverFiles(const WideString& folder) {
  // Opened as itself: a folder in force that is a link is not listed.
  HeldPath held;
  SystemRule rule;
  WideString refusedLink;
  if (FAILED(LogRefusedLink(OpenFolderByPath(folder, rule.Links(), &held, &refusedLink), refusedLink))) return 1;
  ListingBuffer buffer;
  FolderListing listing(held.folder.handle.get(), &buffer);
  ListedEntry entry;
  DeletionRun run;
  while (listing.Next(&entry) == S_OK) {
    if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) || !IsLeftoverName(entry.name, entry.nameLength)) continue;
    // Through the file's own handle, read-only or not; a link goes as a link
    // where the system opens it as one.
    const EntryToDelete leftover{ExpectedFromListing(held.folder, entry), EntryKind::kFile, false};
    DeleteEntry(leftover, run);
  }
  return 1;
}

void DeleteFolderTree(const WideString& folder) {
  SystemRule rule;
  WideString refusedLink;
  TreeDeleteOptions options;
  options.trust = rule.Links();
  options.refusedLink = &refusedLink;
  LogRefusedLink(DeleteTree(folder, options), refusedLink);
}

void CleanDownloadFolder(const WideString& defaultDir, const WideString& configuredDir, const WideString& answer) {
  if (IsYes(answer) && GetFolderSize(defaultDir, true) > 0) DeleteFolderTree(defaultDir);
  DeleteLeftoverFiles(configuredDir);  // a folder that is not there is not listed
}

void CleanSoftDownloads(const WideString& answer) { CleanKind(kSoftFolder, GetSoftDownloadDir, answer); }

void CleanDriverDownloads(const WideString& answer) { CleanKind(kDriverFolder, GetDriverDownloadDir, answer); }

void CleanHotfixDownloads(const WideString& answer) {
  const WideString hotfixDir = DefaultDir(kHotfixFolder);
  WideString downloadDir;
  bool keepDownloads, obeyed;
  {
    // The ledger holds its file and the download folder open while it
    // lives: it is done with before any folder is removed.
    DownloadLedger ledger;
    ledger.Load();
    // Measured only when the answer leaves it to the downloads. A ledger
    // whose downloads cannot all be measured may list some all the same:
    // the answer decides for them as for measured ones.
    keepDownloads = !IsYes(answer) && (ledger.TotalDownloadedSize() > 0 || !ledger.MeasuresEveryDownload());
    if (!keepDownloads) ledger.DeleteInstalledDownloads();
    obeyed = SUCCEEDED(ledger.Obeyed());
    if (!downloadDir.Assign(ledger.DownloadFolder())) return;
  }
  if (keepDownloads) {
    // The downloads stay, and so does every folder that may hold them: the
    // "Hotfix" folder goes only when it is known to lie apart from them,
    // however either folder is spelt.
    if (RelateFolders(downloadDir, hotfixDir) == FolderRelation::kApart) DeleteFolderTree(hotfixDir);
    return;
  }
  // The folder the product's own ledger names is removed only when nothing
  // is left in it.
  if (obeyed) {
    SystemRule rule;
    WideString refusedLink;
    LogRefusedLink(RemoveEmptyFolder(downloadDir, rule.Links(), &refusedLink), refusedLink);
  }
  DeleteFolderTree(hotfixDir);
}

void CleanAllDownloads() {
  WideString yes;
  if (!yes.Assign(L"y")) return;
  CleanHotfixDownloads(yes);
  CleanSoftDownloads(yes);
  CleanDriverDownloads(yes);
}

}  // namespace tmn
