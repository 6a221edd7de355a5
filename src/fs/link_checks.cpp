#include "fs/link_checks.h"

#include <winternl.h>

#include "base/result.h"
#include "base/wide_string.h"
#include "fs/entry_names.h"
#include "fs/file_system_calls.h"
#include "fs/path_checks.h"

namespace tmn {

namespace {

// The last component of text[0, length), without trailing separators.
void LastComponent(const wchar_t* text, size_t length, const wchar_t** name, size_t* nameLength) {
  while (length > 0 && IsPathSeparator(text[length - 1])) --length;
  size_t begin = length;
  while (begin > 0 && !IsPathSeparator(text[begin - 1]) && text[begin - 1] != L':') --begin;
  *name = text + begin;
  *nameLength = length - begin;
}

// Whether the file the handle reached is named as path ends. A name that
// cannot be read (a file system without names) does not count against it.
bool ReadReachedByItsName(HANDLE entry, const wchar_t* path) {
  // Read through ntdll, which every Windows has, since XP has no
  // GetFileInformationByHandleEx.
  union {
    ULONG length;  // FILE_NAME_INFORMATION: the length in bytes, then the name
    BYTE bytes[sizeof(ULONG) + 1024 * sizeof(wchar_t)];
  } reached;
  IO_STATUS_BLOCK status = {};
  if (g_fileSystem.queryInformation(entry, &status, &reached, sizeof(reached), kFileNameInformation) < 0) return true;
  const wchar_t* name = reinterpret_cast<const wchar_t*>(reached.bytes + sizeof(ULONG));
  const size_t length = reached.length / sizeof(wchar_t);
  return ReachedByLastName(name, length, path);
}

constexpr FILE_INFORMATION_CLASS kFileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);
// A target in Windows' own form, with room to spare.
constexpr size_t kRenameTargetChars = 1024;

}  // namespace

HRESULT RenameOpenedEntry(HANDLE entry, const wchar_t* target, bool replace) {
  WideString nt;
  if (!NtPathOf(target, TextLength(target), &nt)) return E_OUTOFMEMORY;
  if (nt.Length() >= kRenameTargetChars) return HResultFromWin32(ERROR_FILENAME_EXCED_RANGE);
  struct {  // FILE_RENAME_INFORMATION
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;  // bytes
    wchar_t fileName[kRenameTargetChars];
  } rename = {};
  rename.replaceIfExists = replace ? TRUE : FALSE;
  rename.fileNameLength = static_cast<ULONG>(nt.Length() * sizeof(wchar_t));
  for (size_t i = 0; i < nt.Length(); ++i) rename.fileName[i] = nt[i];
  IO_STATUS_BLOCK status = {};
  const NTSTATUS renamed = g_fileSystem.setInformation(entry, &status, &rename, sizeof(rename), kFileRenameInformation);
  return renamed >= 0 ? S_OK : HResultFromNtStatus(renamed);
}

DWORD ReparseTagOf(HANDLE entry, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return 0;
  struct {
    ULONG attributes;
    ULONG reparseTag;
  } tag = {};
  IO_STATUS_BLOCK status = {};
  return g_fileSystem.queryInformation(entry, &status, &tag, sizeof(tag), kFileAttributeTagInformation) >= 0
             ? tag.reparseTag
             : 0;
}

bool IsLinkEntry(DWORD attributes, DWORD reparseTag) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  return reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag);
}

bool IsLinkOrMultiLinked(const EntryFacts& facts) {
  if (facts.listedAttributes == INVALID_FILE_ATTRIBUTES) return true;
  if (facts.openedAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (IsLinkEntry(facts.openedAttributes, facts.openedReparseTag)) return true;
  } else if (facts.listedAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return true;
  }
  if ((facts.openedAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && facts.linkCount > 1) return true;
  return !facts.reachedByItsName;
}

bool ReachedByLastName(const wchar_t* reached, size_t reachedLength, const wchar_t* path) {
  const wchar_t *reachedName, *pathName;
  size_t reachedNameLength, pathNameLength;
  LastComponent(reached, reachedLength, &reachedName, &reachedNameLength);
  size_t pathLength = 0;
  while (path[pathLength] != L'\0') ++pathLength;
  LastComponent(path, pathLength, &pathName, &pathNameLength);
  return reachedNameLength > 0 && SameEntryName(reachedName, reachedNameLength, pathName, pathNameLength);
}

UniqueFile OpenEntryItself(const wchar_t* path, DWORD access, DWORD disposition, bool folder) {
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0);
  return UniqueFile(g_fileSystem.createFile(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                                            flags, nullptr));
}

bool ReadEntryFacts(HANDLE entry, const wchar_t* path, EntryFacts* facts) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!g_fileSystem.getFileInformationByHandle(entry, &information)) return false;
  facts->listedAttributes = g_fileSystem.getFileAttributes(path);
  facts->openedAttributes = information.dwFileAttributes;
  facts->linkCount = information.nNumberOfLinks;
  facts->openedReparseTag = ReparseTagOf(entry, information.dwFileAttributes);
  facts->reachedByItsName = ReadReachedByItsName(entry, path);
  return true;
}

bool IsLinkOrMultiLinked(HANDLE entry, const wchar_t* path) {
  EntryFacts facts;
  return !ReadEntryFacts(entry, path, &facts) || IsLinkOrMultiLinked(facts);
}

bool IsLinkOrMultiLinked(const wchar_t* path) {
  const DWORD attributes = g_fileSystem.getFileAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
  }
  // Nothing but the attributes is needed: opening shares everything.
  UniqueFile entry(g_fileSystem.createFile(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return !entry || IsLinkOrMultiLinked(entry.get(), path);
}

}  // namespace tmn
