#include "removal/download_cleanup.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "base/ascii.h"
#include "base/unique.h"
#include "fs/file_system_calls.h"
#include "fs/link_checks.h"
#include "fs/folder_identity.h"
#include "fs/path_checks.h"
#include "removal/download_ledger.h"
#include "removal/folder_walk.h"
#include "removal/force_delete.h"
#include "settings/download_folders.h"
#include "settings/product_settings.h"

namespace tmn {

namespace {

// The shell's list of paths ends in two NULs within this many characters,
// so a folder handed to it has at most 258.
constexpr size_t kShellListChars = MAX_PATH;  // 260
// A joined leftover path has at most 259 characters and its NUL.
constexpr size_t kLeftoverPathChars = MAX_PATH;  // 260

const wchar_t* const kPackageExtensions[] = {L".exe", L".msu", L".zip"};
const wchar_t* const kLeftoverSuffixes[] = {L".tmp", L".nfo", L"_kt", L"_kti", L".fd", L".fd.cfg", L"c"};

constexpr FILEOP_FLAGS kShellDeleteFlags =
    FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI | FOF_NORECURSION;  // 0x1610

bool EndsWithIgnoringCase(const wchar_t* name, size_t nameLength, const wchar_t* extension,
                          const wchar_t* suffix) {
  const size_t extensionLength = TextLength(extension), suffixLength = TextLength(suffix);
  const size_t endingLength = extensionLength + suffixLength;
  if (nameLength <= endingLength) return false;
  const wchar_t* ending = name + nameLength - endingLength;
  return EqualsIgnoringAsciiCase(ending, extension, extensionLength) &&
         EqualsIgnoringAsciiCase(ending + extensionLength, suffix, suffixLength);
}

// A folder the cleanup may act on: fully qualified, and short enough for
// the shell's list with its two NULs.
bool FitsShellList(const WideString& folder) {
  return IsFullyQualifiedPath(folder.Get()) && folder.Length() + 2 <= kShellListChars;
}

void DeleteThroughShell(const WideString& folder) {
  wchar_t list[kShellListChars] = {};  // the zero fill gives the second NUL
  for (size_t i = 0; i < folder.Length(); ++i) list[i] = folder[i];
  SHFILEOPSTRUCTW operation = {};
  operation.wFunc = FO_DELETE;
  operation.pFrom = list;
  operation.fFlags = kShellDeleteFlags;
  ::SHFileOperationW(&operation);
}

// Deletes a tree already walked; see ShellDeleteFolder.
void DeleteWalkedTree(const WideString& folder, const FolderWalk& walk) {
  if (!FitsShellList(folder)) return;
  const DWORD attributes = ::GetFileAttributesW(folder.Get());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    g_fileSystem.removeDirectory(folder.Get());  // the link itself, never what it points to
    return;
  }
  // The shell enters links inside the tree and deletes what they point to.
  if (walk.holdsLink || !walk.complete)
    DeleteDirectoryTree(folder);
  else
    DeleteThroughShell(folder);
  g_fileSystem.removeDirectory(folder.Get());
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

bool IsLeftoverName(const wchar_t* name) {
  const size_t length = TextLength(name);
  for (const wchar_t* extension : kPackageExtensions)
    for (const wchar_t* suffix : kLeftoverSuffixes)
      if (EndsWithIgnoringCase(name, length, extension, suffix)) return true;
  return false;
}

uint64_t GetFolderSize(const WideString& folder, bool recursive) {
  return WalkFolder(folder, recursive, true).size;
}

int DeleteLeftoverFiles(const WideString& folder) {
  // A folder in force that is a link leads to files that are not the product's.
  if (!IsFullyQualifiedPath(folder.Get()) || IsLinkOrMultiLinked(folder.Get())) return 1;
  WideString pattern;
  if (!JoinName(folder, L"*", &pattern)) return 1;
  WIN32_FIND_DATAW data;
  UniqueFind find(g_fileSystem.findFirstFile(pattern.Get(), &data));
  if (!find) return 1;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsLeftoverName(data.cFileName)) continue;
    WideString path;
    // A path that does not fit is skipped; the folder itself is never acted on.
    if (!JoinName(folder, data.cFileName, &path) || path.Length() >= kLeftoverPathChars) continue;
    // An attribute change would reach through a link to the file behind it.
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
      g_fileSystem.setFileAttributes(path.Get(), FILE_ATTRIBUTE_NORMAL);
    g_fileSystem.deleteFile(path.Get());
  } while (g_fileSystem.findNextFile(find.get(), &data));
  return 1;
}

void ShellDeleteFolder(const WideString& folder) {
  if (!FitsShellList(folder)) return;
  DeleteWalkedTree(folder, WalkFolder(folder, true, false));
}

void CleanDownloadFolder(const WideString& defaultDir, const WideString& configuredDir, const WideString& answer) {
  if (IsFullyQualifiedPath(defaultDir.Get())) {
    // One walk sizes the folder and finds the links its deletion must not follow.
    const FolderWalk walk = WalkFolder(defaultDir, true, true);
    if (walk.size > 0 && IsYes(answer)) DeleteWalkedTree(defaultDir, walk);
  }
  if (IsFullyQualifiedPath(configuredDir.Get()) && ::PathFileExistsW(configuredDir.Get()))
    DeleteLeftoverFiles(configuredDir);
}

void CleanSoftDownloads(const WideString& answer) { CleanKind(kSoftFolder, GetSoftDownloadDir, answer); }

void CleanDriverDownloads(const WideString& answer) { CleanKind(kDriverFolder, GetDriverDownloadDir, answer); }

void CleanHotfixDownloads(const WideString& answer) {
  WideString configFile;
  GetConfigFilePath(&configFile, true);
  const WideString hotfixDir = DefaultDir(kHotfixFolder);
  const WideString downloadDir = ConfiguredDir(GetHotfixDownloadDir, configFile);
  DownloadLedger ledger;
  ledger.Load();
  // A ledger whose downloads cannot all be measured may list some all the
  // same: the answer decides for them as for measured ones.
  const bool holdsDownloads = ledger.TotalDownloadedSize() > 0 || !ledger.MeasuresEveryDownload();
  if (holdsDownloads && !IsYes(answer)) {
    // The downloads stay, and so does every folder that may hold them: the
    // "Hotfix" folder goes only when it is known to lie apart from them,
    // however either folder is spelt.
    if (RelateFolders(downloadDir, hotfixDir) == FolderRelation::kApart) ShellDeleteFolder(hotfixDir);
    return;
  }
  ledger.DeleteInstalledDownloads();
  if (IsFullyQualifiedPath(downloadDir.Get())) g_fileSystem.removeDirectory(downloadDir.Get());
  ShellDeleteFolder(hotfixDir);
}

void CleanAllDownloads() {
  WideString yes;
  if (!yes.Assign(L"y")) return;
  CleanHotfixDownloads(yes);
  CleanSoftDownloads(yes);
  CleanDriverDownloads(yes);
}

}  // namespace tmn
