#include "removal/access_repair.h"

#include <aclapi.h>
#include <shlwapi.h>

#include "base/heap.h"
#include "base/result.h"
#include "base/unique.h"
#include "removal/file_system_calls.h"
#include "removal/path_operations.h"

namespace tmn {

namespace {

constexpr SECURITY_INFORMATION kOwnerUnprotected =
    OWNER_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION |
    UNPROTECTED_SACL_SECURITY_INFORMATION;  // 0x30000001
constexpr SECURITY_INFORMATION kDaclProtected =
    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;  // 0x80000004

bool HasDenyEntry(PACL dacl) {
  void* ace = nullptr;
  for (DWORD i = 0; ::GetAce(dacl, i, &ace); ++i)
    if (static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_DENIED_ACE_TYPE) return true;
  return false;
}

// In place; the index stays after a removal so adjacent deny entries go too.
void RemoveDenyEntries(PACL dacl) {
  void* ace = nullptr;
  for (DWORD i = 0; ::GetAce(dacl, i, &ace);) {
    if (static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_DENIED_ACE_TYPE) {
      if (!::DeleteAce(dacl, i)) ++i;
    } else {
      ++i;
    }
  }
}

DWORD AceSize(PSID sid) { return sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + ::GetLengthSid(sid); }

}  // namespace

void CollapseBackslashes(WideString& path) {
  const size_t start = static_cast<size_t>(SkipPathPrefix(path.Get()) - path.Get());
  for (size_t p = path.Find(L'\\', start); p != WideString::npos; p = path.Find(L'\\', p + 1)) {
    if (p + 1 < path.Length() && path[p + 1] == L'\\') path.Erase(p);
  }
}

bool GetAdministratorsSid(PSID* sid) {
  *sid = nullptr;
  DWORD sidBytes = 0, domainChars = 0;
  SID_NAME_USE use;
  UniqueHeapBlock sidBlock, domainBlock;
  // The sizes come back from the first call; a few rounds are enough even
  // if the account changes under us.
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (::LookupAccountNameW(nullptr, L"Administrators", sidBlock.get(), &sidBytes,
                             static_cast<wchar_t*>(domainBlock.get()), &domainChars, &use)) {
      *sid = sidBlock.release();
      return true;
    }
    sidBlock.reset();
    domainBlock.reset();
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    sidBlock.reset(HeapAllocateZeroed(sidBytes));
    domainBlock.reset(HeapAllocateZeroed(static_cast<size_t>(domainChars) * sizeof(wchar_t)));
    if (!sidBlock || !domainBlock) return false;
  }
  return false;
}

bool EnableTakeOwnership(HANDLE process) {
  if (process == nullptr) return false;
  LUID privilege;
  if (!::LookupPrivilegeValueW(nullptr, L"SeTakeOwnershipPrivilege", &privilege)) return false;
  UniqueHandle token;
  if (!::OpenProcessToken(process, TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return false;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid = privilege;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  return ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr) != FALSE;
}

int RepairAccess(const WideString& path) {
  WideString work;
  if (!work.Assign(path)) return 0;
  CollapseBackslashes(work);
  if (!::PathFileExistsW(path.Get())) return 1;

  // Owner and access list; where the object is not found, of the nearest
  // ancestor that is.
  PSID owner = nullptr;
  PACL dacl = nullptr;
  UniqueLocal descriptor;
  bool ancestorInUse = false;
  for (;;) {
    PSECURITY_DESCRIPTOR read = nullptr;
    const DWORD status = g_fileSystem.getNamedSecurityInfo(
        work.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
        nullptr, &dacl, nullptr, &read);
    descriptor.reset(read);
    if (status == ERROR_SUCCESS) break;
    owner = nullptr;
    dacl = nullptr;
    descriptor.reset();
    if (status != ERROR_FILE_NOT_FOUND) break;
    const size_t cut = work.FindLast(L'\\');
    if (cut == WideString::npos) break;
    work.Truncate(cut);
    ancestorInUse = true;
  }

  if (dacl != nullptr) {
    if (ancestorInUse && !HasDenyEntry(dacl)) return 1;
    RemoveDenyEntries(dacl);
  }

  EXPLICIT_ACCESS_W access[3];
  ::BuildExplicitAccessWithNameW(&access[0], const_cast<wchar_t*>(L"System"), FILE_ALL_ACCESS, SET_ACCESS,
                                 SUB_CONTAINERS_AND_OBJECTS_INHERIT);
  ::BuildExplicitAccessWithNameW(&access[1], const_cast<wchar_t*>(L"Administrators"), FILE_ALL_ACCESS,
                                 SET_ACCESS, SUB_CONTAINERS_AND_OBJECTS_INHERIT);
  ::BuildExplicitAccessWithNameW(&access[2], const_cast<wchar_t*>(L"Users"), 0, SET_ACCESS,
                                 SUB_CONTAINERS_AND_OBJECTS_INHERIT);
  PACL merged = nullptr;
  if (::SetEntriesInAclW(3, access, dacl, &merged) != ERROR_SUCCESS) return 0;
  UniqueLocal newDacl(merged);

  PSID administrators = nullptr;
  const bool haveAdministrators = GetAdministratorsSid(&administrators);
  UniqueHeapBlock administratorsBlock(administrators);
  EnableTakeOwnership(::GetCurrentProcess());

  if (haveAdministrators)
    g_fileSystem.setNamedSecurityInfo(work.Data(), SE_FILE_OBJECT, kOwnerUnprotected, administrators,
                                      nullptr, nullptr, nullptr);
  const DWORD written = g_fileSystem.setNamedSecurityInfo(work.Data(), SE_FILE_OBJECT, kDaclProtected,
                                                          nullptr, nullptr, merged, nullptr);
  // Only an owner that was read can be given back.
  if (haveAdministrators && owner != nullptr)
    g_fileSystem.setNamedSecurityInfo(work.Data(), SE_FILE_OBJECT, kOwnerUnprotected, owner, nullptr,
                                      nullptr, nullptr);
  return written == ERROR_SUCCESS ? 1 : 0;
}

DaclWrite RewriteDacl(const wchar_t* path, const DaclEntry* entries, size_t count, HRESULT* buildError) {
  PACL current = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  const DWORD status = g_fileSystem.getNamedSecurityInfo(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                                         nullptr, nullptr, &current, nullptr, &read);
  UniqueLocal descriptor(read);
  if (status != ERROR_SUCCESS) {
    ::SetLastError(status);
    return DaclWrite::kFailed;
  }
  // No list at all means everyone has full access; that is left alone.
  if (current == nullptr) {
    ::SetLastError(ERROR_SUCCESS);
    return DaclWrite::kFailed;
  }
  descriptor.reset();

  DWORD size = sizeof(ACL);
  for (size_t i = 0; i < count; ++i) {
    if (!::IsValidSid(entries[i].sid)) {
      ::SetLastError(ERROR_INVALID_SID);
      return DaclWrite::kFailed;
    }
    size += AceSize(entries[i].sid);
  }
  HRESULT ignored = S_OK;
  HRESULT& error = buildError != nullptr ? *buildError : ignored;
  UniqueHeapBlock block(HeapAllocateZeroed(size));
  PACL acl = static_cast<PACL>(block.get());
  if (acl == nullptr) {
    error = E_OUTOFMEMORY;
    return DaclWrite::kNotBuilt;
  }
  if (!::InitializeAcl(acl, size, ACL_REVISION)) {
    error = HResultFromLastError();
    return DaclWrite::kNotBuilt;
  }
  // Canonical order: every deny entry before every allow entry.
  for (int pass = 0; pass < 2; ++pass) {
    const bool allowPass = pass == 1;
    for (size_t i = 0; i < count; ++i) {
      const DaclEntry& e = entries[i];
      if (e.allow != allowPass) continue;
      const BOOL added = e.allow ? ::AddAccessAllowedAceEx(acl, ACL_REVISION, e.aceFlags, e.accessMask, e.sid)
                                 : ::AddAccessDeniedAceEx(acl, ACL_REVISION, e.aceFlags, e.accessMask, e.sid);
      if (!added) {
        error = HResultFromLastError();
        return DaclWrite::kNotBuilt;
      }
    }
  }
  WideString name;
  if (!name.Assign(path)) {
    error = E_OUTOFMEMORY;
    return DaclWrite::kNotBuilt;
  }
  const DWORD written = g_fileSystem.setNamedSecurityInfo(name.Data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                                          nullptr, nullptr, acl, nullptr);
  ::SetLastError(written);
  return written == ERROR_SUCCESS ? DaclWrite::kWritten : DaclWrite::kFailed;
}

HRESULT GrantUsersFullControl(const wchar_t* path) {
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  ::GetVersionExW(&version);  // unread, the version counts as older than 6
  if (version.dwMajorVersion >= 6) return S_OK;

  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
  UniqueSid users, everyone;
  if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0,
                                  0, 0, 0, 0, users.put()) ||
      !::AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, everyone.put()))
    return HResultFromLastError();
  const DaclEntry entries[2] = {
      {users.get(), true, FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
      {everyone.get(), false, 0, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
  };
  switch (RewriteDacl(path, entries, 2)) {
    case DaclWrite::kWritten:
      return S_OK;
    case DaclWrite::kNotBuilt:
      return 1;
    case DaclWrite::kFailed:
    default:
      return HResultFromLastError();
  }
}

}  // namespace tmn
