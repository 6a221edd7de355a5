#include "support/file_system_recorder.h"

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

// The directory a "dir\*.*" or "dir\*" pattern lists; empty for a lookup
// of one path without a pattern.
std::wstring ListedDirectory(const std::wstring& pattern) {
  for (const wchar_t* tail : {L"\\*.*", L"\\*"}) {
    const std::wstring t(tail);
    if (pattern.size() >= t.size() && pattern.compare(pattern.size() - t.size(), t.size(), t) == 0)
      return pattern.substr(0, pattern.size() - t.size());
  }
  return std::wstring();
}

void Listed(LPWIN32_FIND_DATAW data) {
  g_recorder->Record(std::wstring(L"listed ") + data->cFileName);
  if (g_recorder->listedAttributes)
    data->dwFileAttributes = g_recorder->listedAttributes(data->cFileName, data->dwFileAttributes);
  if (g_recorder->listedTag) data->dwReserved0 = g_recorder->listedTag(data->cFileName, data->dwReserved0);
}

HANDLE WINAPI RecordFindFirst(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  const std::wstring directory = ListedDirectory(pattern);
  if (directory.empty()) {
    g_recorder->Record(std::wstring(L"find ") + pattern);
  } else {
    g_recorder->Record(L"list " + directory);
    if (Refused(g_recorder->refuseListing, directory)) {
      SetLastError(g_recorder->refusal);
      return INVALID_HANDLE_VALUE;
    }
  }
  HANDLE find = g_recorder->Found().findFirstFile(pattern, data);
  if (find != INVALID_HANDLE_VALUE) Listed(data);
  return find;
}

BOOL WINAPI RecordFindNext(HANDLE find, LPWIN32_FIND_DATAW data) {
  const BOOL more = g_recorder->Found().findNextFile(find, data);
  if (more) Listed(data);
  return more;
}

// Records the call, then refuses it or passes it on to Windows.
template <typename Call>
BOOL RecordRefusable(const wchar_t* kind, const std::function<bool(const std::wstring&)>& rule, LPCWSTR path,
                     const std::wstring& detail, Call call) {
  g_recorder->Record(kind + std::wstring(L" ") + path + detail);
  if (Refused(rule, path)) {
    SetLastError(g_recorder->refusal);
    return FALSE;
  }
  return call();
}

BOOL WINAPI RecordDelete(LPCWSTR path) {
  return RecordRefusable(L"delete", g_recorder->refuseDelete, path, L"",
                         [&] { return g_recorder->Found().deleteFile(path); });
}

BOOL WINAPI RecordRemove(LPCWSTR path) {
  return RecordRefusable(L"remove", g_recorder->refuseRemove, path, L"",
                         [&] { return g_recorder->Found().removeDirectory(path); });
}

BOOL WINAPI RecordSetAttributes(LPCWSTR path, DWORD attributes) {
  return RecordRefusable(L"attributes", g_recorder->refuseSetAttributes, path, L" " + Hex(attributes),
                         [&] { return g_recorder->Found().setFileAttributes(path, attributes); });
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
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(g_recorder->descriptor.c_str(), SDDL_REVISION_1,
                                                            &made, nullptr))
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

}  // namespace

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
  tmn::g_fileSystem = {RecordFindFirst, RecordFindNext, RecordDelete, RecordRemove,
                       RecordSetAttributes, RecordReadSecurity, RecordWriteSecurity};
}

FileSystemRecorder::~FileSystemRecorder() {
  tmn::g_fileSystem = found_;
  g_recorder = nullptr;
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
