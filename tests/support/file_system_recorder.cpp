#include "support/file_system_recorder.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <stdexcept>

#include "fs/file_system_calls.h"

namespace tmtest {

namespace {

FileSystemRecorder* g_recorder = nullptr;

std::wstring Hex(DWORD value) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%lX", static_cast<unsigned long>(value));
  return text;
}

bool Refused(const std::function<bool(const std::wstring&)>& rule, const std::wstring& path) {
  return rule && rule(path);
}

DWORD WINAPI RecordReadSecurity(LPCWSTR name, SE_OBJECT_TYPE, SECURITY_INFORMATION info, PSID* owner, PSID* group,
                                PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  g_recorder->Record(std::wstring(L"read-security ") + name + L" " + Hex(info));
  if (owner) *owner = nullptr;
  if (group) *group = nullptr;
  if (dacl) *dacl = nullptr;
  if (sacl) *sacl = nullptr;
  *descriptor = nullptr;
  const DWORD status = g_recorder->readStatus ? g_recorder->readStatus(name) : ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  PSECURITY_DESCRIPTOR made = nullptr;
  std::wstring sddl = g_recorder->descriptorOf ? g_recorder->descriptorOf(name) : L"";
  if (sddl.empty()) sddl = g_recorder->descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &made, nullptr))
    return GetLastError();
  BOOL present = FALSE, defaulted = FALSE;
  if (owner && (info & OWNER_SECURITY_INFORMATION)) GetSecurityDescriptorOwner(made, owner, &defaulted);
  if (dacl && (info & DACL_SECURITY_INFORMATION)) {
    PACL found = nullptr;
    GetSecurityDescriptorDacl(made, &present, &found, &defaulted);
    *dacl = present ? found : nullptr;
  }
  *descriptor = made;  // LocalAlloc'd: the caller frees it with LocalFree
  return ERROR_SUCCESS;
}

DWORD WINAPI RecordWriteSecurity(LPWSTR name, SE_OBJECT_TYPE, SECURITY_INFORMATION info, PSID owner, PSID,
                                 PACL dacl, PACL) {
  g_recorder->Record(std::wstring(L"write-security ") + name + L" " + Hex(info));
  SecurityWrite write{name, info, owner ? SidText(owner) : L"", dacl != nullptr, {}};
  if (dacl) write.dacl = AcesOf(dacl);
  g_recorder->RecordWrite(write);
  return g_recorder->writeStatus ? g_recorder->writeStatus(info) : ERROR_SUCCESS;
}

NTSTATUS NTAPI RecordOpenRelative(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                                  PIO_STATUS_BLOCK status, PLARGE_INTEGER allocation, ULONG attributes, ULONG share,
                                  ULONG disposition, ULONG options, PVOID ea, ULONG eaLength) {
  std::wstring path = object->RootDirectory != nullptr ? PathOfHandle(object->RootDirectory) + L"\\" : L"";
  path.append(object->ObjectName->Buffer, object->ObjectName->Length / sizeof(wchar_t));
  ++g_recorder->seamCalls;
  g_recorder->Record(L"open " + path);
  if (g_recorder->beforeOpen) g_recorder->beforeOpen(path);
  if (g_recorder->refuseOpen && g_recorder->refuseOpen(path, access)) return g_recorder->openRefusal;
  if (g_recorder->RefusedAsWindowsWould(path, access)) return tmn::kStatusAccessDenied;
  const NTSTATUS opened = g_recorder->Found().openRelative(file, access, object, status, allocation, attributes, share,
                                                           disposition, options, ea, eaLength);
  if (opened >= 0) g_recorder->Granted(*file, access);
  return opened >= 0 && g_recorder->openStatus ? g_recorder->openStatus(path, options, opened) : opened;
}

NTSTATUS NTAPI RecordQueryDirectory(HANDLE folder, HANDLE event, PVOID apc, PVOID apcContext, PIO_STATUS_BLOCK status,
                                    PVOID buffer, ULONG length, FILE_INFORMATION_CLASS kind, BOOLEAN single,
                                    PUNICODE_STRING mask, BOOLEAN restart) {
  ++g_recorder->seamCalls;
  const std::wstring directory = PathOfHandle(folder);
  if (restart) g_recorder->Record(L"list " + directory);
  if (restart && Refused(g_recorder->refuseListing, directory)) return tmn::kStatusAccessDenied;
  const NTSTATUS listed = g_recorder->Found().queryDirectory(folder, event, apc, apcContext, status, buffer, length,
                                                             kind, single, mask, restart);
  if (listed < 0 || kind != tmn::kFileIdBothDirectoryInformation) return listed;
  for (BYTE* at = static_cast<BYTE*>(buffer);;) {
    auto* entry = reinterpret_cast<tmn::NtDirectoryEntry*>(at);
    const std::wstring name(entry->fileName, entry->fileNameLength / sizeof(wchar_t));
    if (name != L"." && name != L"..") {
      g_recorder->Record(L"listed " + name);
      if (g_recorder->listedAttributes)
        entry->fileAttributes = g_recorder->listedAttributes(name, entry->fileAttributes);
      if (g_recorder->listedTag) entry->eaSizeOrReparseTag = g_recorder->listedTag(name, entry->eaSizeOrReparseTag);
    }
    if (entry->nextEntryOffset == 0) break;
    at += entry->nextEntryOffset;
  }
  return listed;
}

NTSTATUS NTAPI RecordQueryInformation(HANDLE file, PIO_STATUS_BLOCK status, PVOID information, ULONG length,
                                      FILE_INFORMATION_CLASS kind) {
  ++g_recorder->seamCalls;
  const NTSTATUS read = g_recorder->Found().queryInformation(file, status, information, length, kind);
  if (read < 0 || kind != tmn::kFileAllInformation) return read;
  auto* info = static_cast<tmn::NtAllInformation*>(information);
  if (g_recorder->openedAttributes || g_recorder->openedId) {
    const std::wstring path = PathOfHandle(file);
    if (g_recorder->openedAttributes) info->fileAttributes = g_recorder->openedAttributes(path, info->fileAttributes);
    if (g_recorder->openedId)
      info->indexNumber.QuadPart =
          static_cast<LONGLONG>(g_recorder->openedId(path, static_cast<uint64_t>(info->indexNumber.QuadPart)));
  }
  return read;
}

NTSTATUS NTAPI RecordSetInformation(HANDLE file, PIO_STATUS_BLOCK status, PVOID information, ULONG length,
                                    FILE_INFORMATION_CLASS kind) {
  ++g_recorder->seamCalls;
  const std::wstring path = PathOfHandle(file);
  std::function<bool(const std::wstring&)>* rule = nullptr;
  NTSTATUS refusal = tmn::kStatusAccessDenied;
  if (kind == tmn::kFileDispositionInformation) {
    BY_HANDLE_FILE_INFORMATION facts = {};
    GetFileInformationByHandle(file, &facts);
    const bool folder = (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    g_recorder->Record((folder ? L"remove " : L"delete ") + path);
    rule = folder ? &g_recorder->refuseRemove : &g_recorder->refuseDelete;
    if (folder) refusal = g_recorder->removeRefusal;
  } else if (kind == tmn::kFileBasicInformation) {
    g_recorder->Record(L"attributes " + path + L" " +
                       Hex(static_cast<tmn::NtBasicInformation*>(information)->fileAttributes));
    rule = &g_recorder->refuseSetAttributes;
  }
  if (rule != nullptr && Refused(*rule, path)) return refusal;
  return g_recorder->Found().setInformation(file, status, information, length, kind);
}

DWORD WINAPI RecordReadSecurityOf(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                                  PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  const std::wstring path = PathOfHandle(object);
  if (!g_recorder->WasGranted(object, READ_CONTROL, path)) return ERROR_ACCESS_DENIED;
  return RecordReadSecurity(path.c_str(), type, info, owner, group, dacl, sacl, descriptor);
}

BOOL WINAPI RecordWriteKernelSecurity(HANDLE object, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor) {
  const std::wstring path = PathOfHandle(object);
  g_recorder->Record(L"write-security " + path + L" " + Hex(info));
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  SecurityWrite write{path, info, owner ? SidText(owner) : L"", dacl != nullptr, {}, true, true};
  if (dacl) write.dacl = AcesOf(dacl);
  g_recorder->RecordWrite(write);
  const ACCESS_MASK needed = ((info & OWNER_SECURITY_INFORMATION) ? WRITE_OWNER : 0) |
                             ((info & DACL_SECURITY_INFORMATION) ? WRITE_DAC : 0);
  const DWORD status = !g_recorder->WasGranted(object, needed, path) ? ERROR_ACCESS_DENIED
                       : g_recorder->writeStatus                    ? g_recorder->writeStatus(info)
                                                                    : ERROR_SUCCESS;
  if (status == ERROR_SUCCESS) g_recorder->Wrote(path, info);
  SetLastError(status);
  return status == ERROR_SUCCESS;
}

DWORD WINAPI RecordWriteSecurityOf(HANDLE object, SE_OBJECT_TYPE, SECURITY_INFORMATION info, PSID owner, PSID,
                                   PACL dacl, PACL) {
  const std::wstring path = PathOfHandle(object);
  g_recorder->Record(L"write-security " + path + L" " + Hex(info));
  SecurityWrite write{path, info, owner ? SidText(owner) : L"", dacl != nullptr, {}, true};
  if (dacl) write.dacl = AcesOf(dacl);
  g_recorder->RecordWrite(write);
  return g_recorder->writeStatus ? g_recorder->writeStatus(info) : ERROR_SUCCESS;
}

}  // namespace

bool IsSystemFolder(const std::wstring& path) {
  wchar_t windows[MAX_PATH];
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  return length > 0 && (_wcsicmp(path.c_str(), (std::wstring(windows) + L"\\system32").c_str()) == 0 ||
                        _wcsicmp(path.c_str(), (std::wstring(windows) + L"\\syswow64").c_str()) == 0);
}

void OpenToEveryone(const std::wstring& path) {
  EXPLICIT_ACCESS_W everyone;
  BuildExplicitAccessWithNameW(&everyone, const_cast<wchar_t*>(L"Everyone"), GENERIC_ALL, SET_ACCESS, NO_INHERITANCE);
  PACL granted = nullptr;
  if (SetEntriesInAclW(1, &everyone, nullptr, &granted) != ERROR_SUCCESS) throw std::runtime_error("no list");
  SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, granted, nullptr);
  LocalFree(granted);
}

bool TakeOwnershipEnabled() {
  HANDLE token = nullptr;
  PRIVILEGE_SET wanted = {1, PRIVILEGE_SET_ALL_NECESSARY, {}};
  BOOL enabled = FALSE;
  if (LookupPrivilegeValueW(nullptr, SE_TAKE_OWNERSHIP_NAME, &wanted.Privilege[0].Luid) &&
      OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    PrivilegeCheck(token, &wanted, &enabled);
  if (token != nullptr) CloseHandle(token);
  return enabled != FALSE;
}

void SetTakeOwnership(bool enabled) {
  HANDLE token = nullptr;
  TOKEN_PRIVILEGES privileges = {1, {{{0, 0}, enabled ? static_cast<DWORD>(SE_PRIVILEGE_ENABLED) : 0}}};
  if (!LookupPrivilegeValueW(nullptr, SE_TAKE_OWNERSHIP_NAME, &privileges.Privileges[0].Luid) ||
      !OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token))
    return;
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  CloseHandle(token);
}

std::wstring PathOfHandle(HANDLE handle) {
  // Looked up: the build targets XP, whose headers leave it out.
  using FinalPath = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  static const auto finalPath = reinterpret_cast<FinalPath>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
  wchar_t path[4096];
  const DWORD length = finalPath != nullptr ? finalPath(handle, path, 4096, 0) : 0;
  if (length == 0 || length >= 4096) return L"?";
  std::wstring text(path, length);
  if (text.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + text.substr(7);
  if (text.compare(0, 4, L"\\\\?\\") == 0) return text.substr(4);
  return text;
}

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"?";
  std::wstring result(text);
  LocalFree(text);
  return result;
}

std::vector<AceRecord> AcesOf(PACL acl) {
  std::vector<AceRecord> aces;
  void* ace = nullptr;
  for (DWORD i = 0; GetAce(acl, i, &ace); ++i) {
    auto* header = static_cast<ACE_HEADER*>(ace);
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);  // deny entries share the layout
    aces.push_back({header->AceType, header->AceFlags, allowed->Mask, SidText(&allowed->SidStart)});
  }
  return aces;
}

std::wstring Describe(const std::vector<AceRecord>& aces) {
  std::wstring text;
  for (const AceRecord& a : aces)
    text += L"(" + std::to_wstring(a.type) + L"," + std::to_wstring(a.flags) + L"," + std::to_wstring(a.mask) +
            L"," + a.sid + L")";
  return text;
}

FileSystemRecorder::FileSystemRecorder() : found_(tmn::g_fileSystem) {
  // One recorder at a time: a second one would record into the first.
  if (g_recorder != nullptr) throw std::logic_error("a FileSystemRecorder is already in place");
  g_recorder = this;
  tmn::FileSystemCalls calls = found_;
  calls.getNamedSecurityInfo = RecordReadSecurity;
  calls.setNamedSecurityInfo = RecordWriteSecurity;
  calls.openRelative = RecordOpenRelative;
  calls.queryDirectory = RecordQueryDirectory;
  calls.queryInformation = RecordQueryInformation;
  calls.setInformation = RecordSetInformation;
  calls.getSecurityInfo = RecordReadSecurityOf;
  calls.setSecurityInfo = RecordWriteSecurityOf;
  calls.setKernelObjectSecurity = RecordWriteKernelSecurity;
  tmn::g_fileSystem = calls;
}

FileSystemRecorder::~FileSystemRecorder() {
  tmn::g_fileSystem = found_;
  g_recorder = nullptr;
}

void FileSystemRecorder::ShowAsJunction(const std::wstring& name, const std::wstring& path) {
  listedAttributes = [name](const std::wstring& listed, DWORD attributes) {
    return listed == name ? attributes | FILE_ATTRIBUTE_REPARSE_POINT : attributes;
  };
  listedTag = [name](const std::wstring& listed, DWORD tag) { return listed == name ? IO_REPARSE_TAG_MOUNT_POINT : tag; };
  openedAttributes = [path](const std::wstring& opened, DWORD attributes) {
    return opened == path ? attributes | FILE_ATTRIBUTE_REPARSE_POINT : attributes;
  };
}

void FileSystemRecorder::DenyEveryone(const std::wstring& path, ACCESS_MASK denied) {
  std::lock_guard<std::mutex> lock(mutex_);
  denied_[path] = denied;
}

bool FileSystemRecorder::RefusedAsWindowsWould(const std::wstring& path, ACCESS_MASK access) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = denied_.find(path);
  const ACCESS_MASK privileged = TakeOwnershipEnabled() ? WRITE_OWNER : 0;
  return found != denied_.end() && (access & found->second & ~privileged) != 0;
}

void FileSystemRecorder::Granted(HANDLE handle, ACCESS_MASK access) {
  std::lock_guard<std::mutex> lock(mutex_);
  granted_[handle] = access;
}

bool FileSystemRecorder::WasGranted(HANDLE handle, ACCESS_MASK access, const std::wstring& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  return denied_.count(path) == 0 || (granted_[handle] & access) == access;
}

void FileSystemRecorder::Wrote(const std::wstring& path, DWORD info) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Its owner may read and write its list; a new list denies nothing.
  const auto found = denied_.find(path);
  if (found != denied_.end())
    found->second &= (info & DACL_SECURITY_INFORMATION) ? 0 : ~static_cast<ACCESS_MASK>(READ_CONTROL | WRITE_DAC);
}

void FileSystemRecorder::Record(const std::wstring& call) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(call);
}

void FileSystemRecorder::RecordWrite(SecurityWrite write) {
  std::lock_guard<std::mutex> lock(mutex_);
  writes_.push_back(std::move(write));
}

std::vector<std::wstring> FileSystemRecorder::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<SecurityWrite> FileSystemRecorder::Writes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writes_;
}

void FileSystemRecorder::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
  writes_.clear();
}

std::vector<std::wstring> FileSystemRecorder::CallsBelow(const std::wstring& base) const {
  std::vector<std::wstring> relative;
  for (std::wstring call : Calls()) {
    const size_t at = call.find(base);
    if (at != std::wstring::npos) {
      std::wstring rest = call.substr(at + base.size());
      if (rest.empty() || rest[0] == L' ') rest = L"." + rest;
      else if (rest[0] == L'\\') rest = rest.substr(1);
      call = call.substr(0, at) + rest;
    }
    relative.push_back(call);
  }
  return relative;
}

}  // namespace tmtest
