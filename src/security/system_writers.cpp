#include "security/system_writers.h"

#include <aclapi.h>

#include "base/unique.h"
#include "base/wide_string.h"
#include "fs/checked_open.h"
#include "fs/file_system_calls.h"
#include "fs/path_checks.h"
#include "fs/path_operations.h"

namespace tmn {

namespace {

// S-1-5-18, S-1-5-32-544, and NT SERVICE\TrustedInstaller: S-1-5-80 and the
// hash of its service name. In place, so that no lookup can fail.
struct FixedSid {
  BYTE revision, subAuthorityCount, authority[6];
  DWORD subAuthority[6];
};
constexpr FixedSid kAlwaysWriters[] = {
    {SID_REVISION, 1, {0, 0, 0, 0, 0, 5}, {SECURITY_LOCAL_SYSTEM_RID}},
    {SID_REVISION, 2, {0, 0, 0, 0, 0, 5}, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}},
    {SID_REVISION, 6, {0, 0, 0, 0, 0, 5}, {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}},
};
// CREATOR OWNER and OWNER RIGHTS, S-1-3-0 and S-1-3-4: entries for them
// stand for the owner, who is judged as the owner.
constexpr FixedSid kOwnerStandIns[] = {
    {SID_REVISION, 1, {0, 0, 0, 0, 0, 3}, {SECURITY_CREATOR_OWNER_RID}},
    {SID_REVISION, 1, {0, 0, 0, 0, 0, 3}, {4}},
};

PSID AsSid(const FixedSid& sid) { return const_cast<FixedSid*>(&sid); }

bool IsOwnerStandIn(PSID sid) {
  for (const FixedSid& standIn : kOwnerStandIns)
    if (::EqualSid(sid, AsSid(standIn))) return true;
  return false;
}

enum class AceKind { kGrants, kUnreadableGrant, kNoGrant };

// What an entry grants the object itself: a plain allow entry (or one with
// a condition, which may hold) grants its rights to its SID; an allow entry
// of another layout cannot be read here; deny, audit and label entries, and
// entries that only pass to what is made inside, grant nothing.
AceKind KindOf(const ACE_HEADER* header) {
  if (header->AceFlags & INHERIT_ONLY_ACE) return AceKind::kNoGrant;
  switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
      return AceKind::kGrants;
    case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
      return AceKind::kUnreadableGrant;
    default:
      return AceKind::kNoGrant;
  }
}

// The owner and the access list of a descriptor; false when either is
// missing.
bool OwnerAndDacl(PSECURITY_DESCRIPTOR descriptor, PSID* owner, PACL* dacl) {
  BOOL present = FALSE, defaulted = FALSE;
  *owner = nullptr;
  *dacl = nullptr;
  if (descriptor == nullptr || !::GetSecurityDescriptorOwner(descriptor, owner, &defaulted) || *owner == nullptr ||
      !::IsValidSid(*owner))
    return false;
  return ::GetSecurityDescriptorDacl(descriptor, &present, dacl, &defaulted) && present && *dacl != nullptr;
}

// The SID a plain allow entry names, when it lies within the entry.
PSID SidOf(const ACE_HEADER* header) {
  const ACCESS_ALLOWED_ACE* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
  const size_t before = offsetof(ACCESS_ALLOWED_ACE, SidStart);
  if (header->AceSize < before + 8) return nullptr;  // a SID's fixed part
  PSID sid = const_cast<DWORD*>(&ace->SidStart);
  if (!::IsValidSid(sid) || before + ::GetLengthSid(sid) > header->AceSize) return nullptr;
  return sid;
}

bool OnlyTheseMayChangeObject(HANDLE object, const SystemWriters& writers) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  const DWORD status = g_fileSystem.getSecurityInfo(object, SE_FILE_OBJECT,
                                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                                    nullptr, &dacl, nullptr, &read);
  UniqueLocal descriptor(read);
  return status == ERROR_SUCCESS && OnlyTheyMayChange(read, writers);
}

// The file at path and its folder, opened sharing what is given, then
// judged.
bool JudgeFile(const wchar_t* path, DWORD fileShare, DWORD folderShare, UniqueFile* file, UniqueFile* folder) {
  if (path == nullptr || !IsFullyQualifiedPath(path)) return false;
  WideString folderPath;
  if (!folderPath.Assign(path) || StripLastComponent(folderPath) == 0) return false;
  SystemWriters writers;
  if (!writers.Read()) return false;
  file->reset(g_fileSystem.createFile(path, READ_CONTROL | FILE_READ_ATTRIBUTES, fileShare, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  folder->reset(g_fileSystem.createFile(folderPath.Get(), READ_CONTROL, folderShare, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION facts;
  if (!*file || !*folder || !g_fileSystem.getFileInformationByHandle(file->get(), &facts)) return false;
  // Any reparse point: the tag that tells a link from other kinds is not
  // read here, and a product library is none of them.
  if (facts.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return false;
  return OnlySystemWritersMayChange(file->get(), folder->get(), writers);
}

}  // namespace

bool SystemWriters::Add(PSID sid) {
  if (Includes(sid)) return true;
  const DWORD length = ::GetLengthSid(sid);
  if (count_ == kMaxWriters || length > sizeof(sids_[0])) return false;
  return ::CopySid(sizeof(sids_[0]), sids_[count_++], sid) != FALSE;
}

bool SystemWriters::Includes(PSID sid) const {
  if (sid == nullptr || !::IsValidSid(sid)) return false;
  for (size_t i = 0; i < count_; ++i)
    if (::EqualSid(sid, const_cast<BYTE*>(sids_[i]))) return true;
  return false;
}

bool SystemWriters::Take(PSECURITY_DESCRIPTOR systemFolder) {
  count_ = 0;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  if (!OwnerAndDacl(systemFolder, &owner, &dacl)) return false;
  for (const FixedSid& sid : kAlwaysWriters)
    if (!Add(AsSid(sid))) return false;
  if (!Add(owner)) return false;
  void* ace = nullptr;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    if (!::GetAce(dacl, i, &ace)) return false;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
    if (KindOf(header) != AceKind::kGrants) continue;
    const PSID sid = SidOf(header);
    if (sid == nullptr) return false;
    if ((reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask & kChangeRights) == 0 || IsOwnerStandIn(sid))
      continue;
    if (!Add(sid)) return false;
  }
  return true;
}

bool SystemWriters::Read() {
  count_ = 0;
  wchar_t path[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  UniqueFile folder(g_fileSystem.createFile(path, READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder) return false;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  const DWORD status = g_fileSystem.getSecurityInfo(folder.get(), SE_FILE_OBJECT,
                                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                                    nullptr, &dacl, nullptr, &read);
  UniqueLocal descriptor(read);
  return status == ERROR_SUCCESS && Take(read);
}

bool OnlyTheyMayChange(PSECURITY_DESCRIPTOR descriptor, const SystemWriters& writers) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  if (!OwnerAndDacl(descriptor, &owner, &dacl) || !writers.Includes(owner)) return false;
  void* ace = nullptr;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    if (!::GetAce(dacl, i, &ace)) return false;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
    const AceKind kind = KindOf(header);
    if (kind == AceKind::kUnreadableGrant) return false;
    if (kind == AceKind::kNoGrant) continue;
    const PSID sid = SidOf(header);
    if (sid == nullptr) return false;
    if ((reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask & kChangeRights) != 0 && !IsOwnerStandIn(sid) &&
        !writers.Includes(sid))
      return false;
  }
  return true;
}

bool OnlySystemWritersMayChange(HANDLE object, HANDLE folder, const SystemWriters& writers) {
  return OnlyTheseMayChangeObject(object, writers) && OnlyTheseMayChangeObject(folder, writers);
}

bool OnlySystemWritersMayChangeFile(const wchar_t* path) {
  UniqueFile file, folder;
  return JudgeFile(path, kShareAll, kShareAll, &file, &folder);
}

bool OnlySystemWritersMayChangeFile(const wchar_t* path, UniqueFile* heldFile, UniqueFile* heldFolder) {
  UniqueFile file, folder;
  if (!JudgeFile(path, FILE_SHARE_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &file, &folder)) return false;
  *heldFile = static_cast<UniqueFile&&>(file);
  *heldFolder = static_cast<UniqueFile&&>(folder);
  return true;
}

bool SystemRule::OnlySystemMayChange(HANDLE object, HANDLE folder) {
  if (read_ == 0) read_ = writers_.Read() ? 1 : -1;
  return read_ > 0 && OnlySystemWritersMayChange(object, folder, writers_);
}

bool SystemRule::MayFollow(void* self, HANDLE link, HANDLE folder) {
  return static_cast<SystemRule*>(self)->OnlySystemMayChange(link, folder);
}

}  // namespace tmn
