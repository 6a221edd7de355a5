#include "security/access_repair.h"

#include <aclapi.h>
#include <shlwapi.h>

#include "base/heap.h"
#include "base/result.h"
#include "base/unique.h"
#include "fs/file_system_calls.h"
#include "fs/path_operations.h"

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

// Whether the first length characters of path name top or an object below it.
bool IsAtOrBelow(const wchar_t* path, size_t length, const WideString& top) {
  const size_t n = top.Length();
  if (length < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (path[i] != top[i]) return false;
  return length == n || path[n] == L'\\' || top.EndsWith(L'\\');
}

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

int RepairAccess(const WideString& path, const WideString& boundary) {
  WideString work, top;
  if (!work.Assign(path) || !top.Assign(boundary)) return 0;
  CollapseBackslashes(work);
  CollapseBackslashes(top);
  while (top.Length() > 1 && top.EndsWith(L'\\')) top.Truncate(top.Length() - 1);
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
    // Above the boundary lies what the caller was not asked to touch: an
    // object that vanished there needs no repair, as one that is gone.
    if (!IsAtOrBelow(work.Get(), cut, top)) return 1;
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
  GetAdministratorsSid(&administrators);
  UniqueHeapBlock administratorsBlock(administrators);
  EnableTakeOwnership(::GetCurrentProcess());
  return WriteRepairedAccess(work, merged, owner, administrators);
}

int WriteRepairedAccess(WideString& object, PACL dacl, PSID formerOwner, PSID administrators) {
  // Without the administrators' SID the ownership steps are skipped; the
  // access list is written all the same.
  if (administrators != nullptr)
    g_fileSystem.setNamedSecurityInfo(object.Data(), SE_FILE_OBJECT, kOwnerUnprotected, administrators,
                                      nullptr, nullptr, nullptr);
  const DWORD written = g_fileSystem.setNamedSecurityInfo(object.Data(), SE_FILE_OBJECT, kDaclProtected,
                                                          nullptr, nullptr, dacl, nullptr);
  // Only an owner that was read can be given back.
  if (administrators != nullptr && formerOwner != nullptr)
    g_fileSystem.setNamedSecurityInfo(object.Data(), SE_FILE_OBJECT, kOwnerUnprotected, formerOwner, nullptr,
                                      nullptr, nullptr);
  return written == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace tmn
