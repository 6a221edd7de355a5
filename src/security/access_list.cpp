#include "security/access_list.h"

#include <aclapi.h>

#include "base/heap.h"
#include "base/result.h"
#include "base/unique.h"
#include "base/wide_string.h"
#include "base/windows_version.h"
#include "fs/file_system_calls.h"

namespace tmn {

namespace {

DWORD AceSize(PSID sid) { return sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + ::GetLengthSid(sid); }

// Where a list is read and written: an object by name, or by handle.
struct DaclTarget {
  const wchar_t* path;
  HANDLE handle;
};

DWORD ReadDacl(const DaclTarget& target, PACL* dacl, PSECURITY_DESCRIPTOR* descriptor) {
  if (target.handle != nullptr)
    return g_fileSystem.getSecurityInfo(target.handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                        dacl, nullptr, descriptor);
  return g_fileSystem.getNamedSecurityInfo(target.path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                           dacl, nullptr, descriptor);
}

DWORD WriteDacl(const DaclTarget& target, PACL dacl, HRESULT* error) {
  if (target.handle != nullptr)
    return g_fileSystem.setSecurityInfo(target.handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                        dacl, nullptr);
  WideString name;
  if (!name.Assign(target.path)) {
    *error = E_OUTOFMEMORY;
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return g_fileSystem.setNamedSecurityInfo(name.Data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                           dacl, nullptr);
}

DaclWrite Rewrite(const DaclTarget& target, const DaclEntry* entries, size_t count, HRESULT* buildError) {
  PACL current = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  const DWORD status = ReadDacl(target, &current, &read);
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
  HRESULT named = S_OK;
  const DWORD written = WriteDacl(target, acl, &named);
  if (FAILED(named)) {
    error = named;
    return DaclWrite::kNotBuilt;
  }
  ::SetLastError(written);
  return written == ERROR_SUCCESS ? DaclWrite::kWritten : DaclWrite::kFailed;
}

}  // namespace

bool WellKnownSid::Make(WELL_KNOWN_SID_TYPE type) {
  DWORD size = sizeof(sid_);
  return ::CreateWellKnownSid(type, nullptr, sid_, &size) != FALSE;
}

DaclWrite RewriteDacl(const wchar_t* path, const DaclEntry* entries, size_t count, HRESULT* buildError) {
  return Rewrite(DaclTarget{path, nullptr}, entries, count, buildError);
}

DaclWrite RewriteDaclOf(HANDLE object, const DaclEntry* entries, size_t count, HRESULT* buildError) {
  return Rewrite(DaclTarget{nullptr, object}, entries, count, buildError);
}

HRESULT GrantUsersFullControl(HANDLE folder) {
  if (!IsPreVistaWindows()) return S_OK;

  WellKnownSid users, everyone;
  if (!users.Make(WinBuiltinUsersSid) || !everyone.Make(WinWorldSid)) return HResultFromLastError();
  const DaclEntry entries[2] = {
      {users.Get(), true, FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
      {everyone.Get(), false, 0, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
  };
  switch (RewriteDaclOf(folder, entries, 2)) {
    case DaclWrite::kWritten:
      return S_OK;
    case DaclWrite::kNotBuilt:
      return S_FALSE;
    case DaclWrite::kFailed:
    default:
      return HResultFromLastError();
  }
}

}  // namespace tmn
