#include "fs/link_checks.h"

#include <winternl.h>

#include "base/result.h"
#include "base/wide_string.h"
#include "fs/entry_names.h"
#include "fs/file_system_calls.h"

namespace tmn {

namespace {


// The last component of text[0, length), without trailing separators.
void LastComponent(const wchar_t* text, size_t length, const wchar_t** name, size_t* nameLength) {
  while (length > 0 && (text[length - 1] == L'\\' || text[length - 1] == L'/')) --length;
  size_t begin = length;
  while (begin > 0 && text[begin - 1] != L'\\' && text[begin - 1] != L'/' && text[begin - 1] != L':') --begin;
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

// The name Windows' own layer gives a full path: "\??\C:\..." or
// "\??\UNC\server\...".
bool NtPathOf(const wchar_t* path, WideString* nt) {
  if (path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?' && path[3] == L'\\')
    return nt->Assign(L"\\??\\") && nt->Append(path + 4);
  if (path[0] == L'\\' && path[1] == L'\\') return nt->Assign(L"\\??\\UNC\\") && nt->Append(path + 2);
  return nt->Assign(L"\\??\\") && nt->Append(path);
}

constexpr FILE_INFORMATION_CLASS kFileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);
// A target in Windows' own form, with room to spare.
constexpr size_t kRenameTargetChars = 1024;

}  // namespace

HRESULT RenameOpenedEntry(HANDLE entry, const wchar_t* target, bool replace) {
  WideString nt;
  if (!NtPathOf(target, &nt)) return E_OUTOFMEMORY;
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

bool IsLinkEntry(DWORD attributes, DWORD reparseTag) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  return reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag);
}

bool IsTrustedLinkOwner(PSID owner) {
  if (owner == nullptr || !::IsValidSid(owner)) return false;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  UniqueSid system, administrators, trustedInstaller;
  // NT SERVICE\TrustedInstaller: S-1-5-80 and the hash of its service name.
  if (!::AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, system.put()) ||
      !::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  administrators.put()) ||
      !::AllocateAndInitializeSid(&nt, 6, 80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464, 0, 0,
                                  trustedInstaller.put()))
    return false;
  return ::EqualSid(owner, system.get()) || ::EqualSid(owner, administrators.get()) ||
         ::EqualSid(owner, trustedInstaller.get());
}

bool IsLinkOrMultiLinked(const EntryFacts& facts) {
  if (facts.listedAttributes == INVALID_FILE_ATTRIBUTES) return true;
  if ((facts.listedAttributes | facts.openedAttributes) & FILE_ATTRIBUTE_REPARSE_POINT) return true;
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
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
  // Nothing but the attributes is needed: opening shares everything.
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  UniqueFile entry(g_fileSystem.createFile(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return !entry || IsLinkOrMultiLinked(entry.get(), path);
}

}  // namespace tmn
