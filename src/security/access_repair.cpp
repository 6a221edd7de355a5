#include "security/access_repair.h"

#include <aclapi.h>

#include "base/heap.h"
#include "fs/file_system_calls.h"
#include "fs/repair_policy.h"
#include "security/access_list.h"

namespace tmn {

namespace {

// Opened without SYNCHRONIZE, one of the rights a deny entry takes away.
constexpr ULONG kRepairOptions = kOpenItself & ~kFileSynchronousIoNonAlert;
constexpr ACCESS_MASK kOwnerAccess = WRITE_OWNER | FILE_READ_ATTRIBUTES;

// An allow entry whose SID is one of sids.
bool GrantsOneOf(const ACE_HEADER* header, const PSID* sids, size_t count) {
  PSID sid = const_cast<DWORD*>(&reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->SidStart);
  for (size_t i = 0; i < count; ++i)
    if (::EqualSid(sid, sids[i])) return true;
  return false;
}

// Writes the owner or the list (protected from what its folder passes on)
// to the entry alone.
bool WriteSecurity(HANDLE entry, SECURITY_INFORMATION info, PSID owner, PACL dacl) {
  SECURITY_DESCRIPTOR descriptor = {SECURITY_DESCRIPTOR_REVISION, 0,
                                    static_cast<SECURITY_DESCRIPTOR_CONTROL>(dacl ? SE_DACL_PRESENT | SE_DACL_PROTECTED : 0),
                                    owner, nullptr, nullptr, dacl};
  return g_fileSystem.setKernelObjectSecurity(entry, info, &descriptor) != FALSE;
}

}  // namespace

RepairPrivileges::RepairPrivileges() {
  Privileges wanted = {2, {}};
  if (!::LookupPrivilegeValueW(nullptr, SE_TAKE_OWNERSHIP_NAME, &wanted.privileges[0].Luid) ||
      !::LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &wanted.privileges[1].Luid) ||
      !::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token_.put()))
    return;
  wanted.privileges[0].Attributes = wanted.privileges[1].Attributes = SE_PRIVILEGE_ENABLED;
  // Those the token holds are enabled; the state before names what changed.
  DWORD bytes = 0;
  if (!::AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted), sizeof(previous_),
                               reinterpret_cast<TOKEN_PRIVILEGES*>(&previous_), &bytes))
    previous_.count = 0;
}

RepairPrivileges::~RepairPrivileges() {
  if (previous_.count != 0)
    ::AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&previous_), 0, nullptr,
                            nullptr);
}

UniqueHeapBlock BuildRepairedDacl(PACL dacl) {
  WellKnownSid system, administrators, users;
  if (!system.Make(WinLocalSystemSid) || !administrators.Make(WinBuiltinAdministratorsSid) ||
      !users.Make(WinBuiltinUsersSid))
    return UniqueHeapBlock();
  const PSID replaced[3] = {system.Get(), administrators.Get(), users.Get()};
  // Room for the list kept and the two entries added.
  DWORD size = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE) + (dacl ? dacl->AclSize : 0);
  if (size > MAXWORD) size = MAXWORD & ~3u;
  UniqueHeapBlock block(HeapAllocateZeroed(size));
  PACL built = static_cast<PACL>(block.get());
  if (built == nullptr || !::InitializeAcl(built, size, ACL_REVISION) ||
      !::AddAccessAllowedAceEx(built, ACL_REVISION, 0, FILE_ALL_ACCESS, replaced[0]) ||
      !::AddAccessAllowedAceEx(built, ACL_REVISION, 0, FILE_ALL_ACCESS, replaced[1]))
    return UniqueHeapBlock();
  // What the list allowed anyone else stays, after them, in its order.
  void* ace = nullptr;
  for (DWORD i = 0; dacl != nullptr && ::GetAce(dacl, i, &ace); ++i) {
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE && !GrantsOneOf(header, replaced, 3) &&
        !::AddAce(built, ACL_REVISION, MAXDWORD, ace, header->AceSize))
      return UniqueHeapBlock();
  }
  return block;
}

int RepairAccessOf(const ExpectedEntry& entry) {
  RepairPrivileges privileges;
  UniqueFile handle;
  OpenedFacts facts;
  HRESULT opened = OpenOwn(entry, kOwnerAccess | READ_CONTROL, kRepairOptions, &handle, facts);
  const bool ownerReadable = SUCCEEDED(opened);
  if (opened == E_ACCESSDENIED) opened = OpenOwn(entry, kOwnerAccess, kRepairOptions, &handle, facts);
  if (FAILED(opened) || !MayRewriteAccessOf(facts)) return 0;
  ExpectedEntry checked = entry;
  checked.fileId = facts.FileId();
  checked.anyId = false;

  PSID formerOwner = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  if (ownerReadable && g_fileSystem.getSecurityInfo(handle.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                                    &formerOwner, nullptr, nullptr, nullptr, &read) != ERROR_SUCCESS)
    formerOwner = nullptr;
  UniqueLocal former(read);
  WellKnownSid administrators;
  if (!administrators.Make(WinBuiltinAdministratorsSid) ||
      !WriteSecurity(handle.get(), OWNER_SECURITY_INFORMATION, administrators.Get(), nullptr))
    return 0;

  // As the owner it may now have its list read and written.
  handle.reset();
  if (FAILED(OpenOwn(checked, kOwnerAccess | READ_CONTROL | WRITE_DAC, kRepairOptions, &handle, facts))) return 0;
  PACL dacl = nullptr;
  read = nullptr;
  if (g_fileSystem.getSecurityInfo(handle.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                   nullptr, &read) != ERROR_SUCCESS)
    dacl = nullptr;
  UniqueLocal current(read);
  const UniqueHeapBlock repaired = BuildRepairedDacl(dacl);
  const bool written = repaired && WriteSecurity(handle.get(), DACL_SECURITY_INFORMATION |
                                                                   PROTECTED_DACL_SECURITY_INFORMATION,
                                                 nullptr, static_cast<PACL>(repaired.get()));
  if (formerOwner != nullptr) WriteSecurity(handle.get(), OWNER_SECURITY_INFORMATION, formerOwner, nullptr);
  return written ? 1 : 0;
}

}  // namespace tmn
