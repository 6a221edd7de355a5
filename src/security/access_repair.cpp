#include "security/access_repair.h"

#include <aclapi.h>

#include "base/heap.h"
#include "base/result.h"
#include "base/unique.h"
#include "fs/file_system_calls.h"

namespace tmn {

namespace {

constexpr SECURITY_INFORMATION kOwnerUnprotected =
    OWNER_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION |
    UNPROTECTED_SACL_SECURITY_INFORMATION;  // 0x30000001
constexpr SECURITY_INFORMATION kDaclProtected =
    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;  // 0x80000004

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

}  // namespace

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

bool EnableTakeOwnership(HANDLE process, TOKEN_PRIVILEGES* previous) {
  if (process == nullptr) return false;
  LUID privilege;
  if (!::LookupPrivilegeValueW(nullptr, L"SeTakeOwnershipPrivilege", &privilege)) return false;
  UniqueHandle token;
  if (!::OpenProcessToken(process, TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return false;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid = privilege;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  TOKEN_PRIVILEGES ignored;
  TOKEN_PRIVILEGES* before = previous != nullptr ? previous : &ignored;
  DWORD bytes = 0;
  // The state before: no privilege in it when nothing changed.
  before->PrivilegeCount = 0;
  return ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(*before), before, &bytes) != FALSE;
}

void RestorePrivileges(HANDLE process, const TOKEN_PRIVILEGES& previous) {
  if (previous.PrivilegeCount == 0) return;
  UniqueHandle token;
  if (!::OpenProcessToken(process, TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return;
  TOKEN_PRIVILEGES state = previous;
  ::AdjustTokenPrivileges(token.get(), FALSE, &state, 0, nullptr, nullptr);
}

int RepairAccessOf(HANDLE entry) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  const DWORD status = g_fileSystem.getSecurityInfo(entry, SE_FILE_OBJECT,
                                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                                    nullptr, &dacl, nullptr, &read);
  UniqueLocal descriptor(read);
  if (status != ERROR_SUCCESS) {
    // Unreadable: the new list holds only the three entries below, and no
    // owner is known to give back.
    owner = nullptr;
    dacl = nullptr;
  }
  if (dacl != nullptr) RemoveDenyEntries(dacl);

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
  TOKEN_PRIVILEGES previous;
  const bool enabled = EnableTakeOwnership(::GetCurrentProcess(), &previous);
  const int written = WriteRepairedAccess(entry, merged, owner, administrators);
  if (enabled) RestorePrivileges(::GetCurrentProcess(), previous);
  return written;
}

int WriteRepairedAccess(HANDLE entry, PACL dacl, PSID formerOwner, PSID administrators) {
  // Without the administrators' SID the ownership steps are skipped; the
  // access list is written all the same.
  if (administrators != nullptr)
    g_fileSystem.setSecurityInfo(entry, SE_FILE_OBJECT, kOwnerUnprotected, administrators, nullptr, nullptr,
                                 nullptr);
  const DWORD written =
      g_fileSystem.setSecurityInfo(entry, SE_FILE_OBJECT, kDaclProtected, nullptr, nullptr, dacl, nullptr);
  // Only an owner that was read can be given back.
  if (administrators != nullptr && formerOwner != nullptr)
    g_fileSystem.setSecurityInfo(entry, SE_FILE_OBJECT, kOwnerUnprotected, formerOwner, nullptr, nullptr, nullptr);
  return written == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace tmn
