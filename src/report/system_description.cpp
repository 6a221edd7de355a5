#include "report/system_description.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "base/ascii.h"
#include "fs/file_version.h"

namespace tmn {

// Searched in this order; the first row whose name matches counts.
const ShellFolderRow kShellFolderTable[kShellFolderRows] = {
    {L"WINDOWS", CSIDL_WINDOWS},
    {L"SYSTEM", CSIDL_SYSTEM},
    {L"PROGRAM_FILES", CSIDL_PROGRAM_FILES},
    {L"PROGRAM_FILES_COMMON", CSIDL_PROGRAM_FILES_COMMON},
    {L"COOKIES", CSIDL_COOKIES},
    {L"DESKTOP", CSIDL_DESKTOP},
    {L"DESKTOPDIRECTORY", CSIDL_DESKTOPDIRECTORY},
    {L"FAVORITES", CSIDL_FAVORITES},
    {L"FONTS", CSIDL_FONTS},
    {L"HISTORY", CSIDL_HISTORY},
    {L"LOCAL_APPDATA", CSIDL_LOCAL_APPDATA},
    {L"PERSONAL", CSIDL_PERSONAL},
    {L"MYDOCUMENTS", CSIDL_MYDOCUMENTS},
    {L"MYPICTURES", CSIDL_MYPICTURES},
    {L"PROGRAMS", CSIDL_PROGRAMS},
    {L"RECENT", CSIDL_RECENT},
    {L"SENDTO", CSIDL_SENDTO},
    {L"STARTMENU", CSIDL_STARTMENU},
    {L"STARTUP", CSIDL_STARTUP},
    {L"COMMON_APPDATA", CSIDL_COMMON_APPDATA},
    {L"COMMON_DESKTOPDIRECTORY", CSIDL_COMMON_DESKTOPDIRECTORY},
    {L"COMMON_DOCUMENTS", CSIDL_COMMON_DOCUMENTS},
    {L"COMMON_PROGRAMS", CSIDL_COMMON_PROGRAMS},
    {L"COMMON_STARTMENU", CSIDL_COMMON_STARTMENU},
    {L"COMMON_STARTUP", CSIDL_COMMON_STARTUP},
};

namespace {

constexpr wchar_t kShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr wchar_t kWindowsControlKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Windows";
// "CSDVersion" holds the service pack in its second byte.
constexpr unsigned kServicePackShift = 8;

}  // namespace

bool AssignFolderText(const wchar_t (&buffer)[kFolderChars], WideString* out) {
  size_t length = 0;
  while (length < kFolderChars - 1 && buffer[length] != L'\0') ++length;
  return out->Assign(buffer, length);
}

bool ReadShellFolderValue(const wchar_t* name, WideString* out) {
  wchar_t buffer[kFolderChars] = {};
  DWORD type = REG_SZ;
  DWORD bytes = sizeof(buffer);
  const bool read = ::SHGetValueW(HKEY_CURRENT_USER, kShellFoldersKey, name, &type, buffer, &bytes) == ERROR_SUCCESS;
  AssignFolderText(buffer, out);
  return read;
}

bool ReadServicePackLevel(DWORD* out) {
  DWORD type = REG_DWORD;
  DWORD bytes = sizeof(*out);
  return ::SHGetValueW(HKEY_LOCAL_MACHINE, kWindowsControlKey, L"CSDVersion", &type, out, &bytes) == ERROR_SUCCESS;
}

bool GetNamedShellFolder(const wchar_t* name, WideString* out) {
  if (ReadShellFolderValue(name, out)) return true;
  for (const ShellFolderRow& row : kShellFolderTable) {
    if (!EqualsIgnoringAsciiCase(row.name, name)) continue;
    wchar_t buffer[kFolderChars] = {};
    const bool found = ::SHGetSpecialFolderPathW(nullptr, buffer, row.folder, FALSE) != FALSE;
    AssignFolderText(buffer, out);
    return found;
  }
  return false;
}

bool ExpandFolderToken(WideString* token) {
  if (token->IsEmpty()) return false;
  WideString folder;
  if ((*token)[0] == L'@') {
    if (!GetNamedShellFolder(token->Get() + 1, &folder)) return false;
  } else if (EqualsIgnoringAsciiCase(token->Get(), L"systemroot")) {
    wchar_t windows[kFolderChars] = {};
    const UINT length = ::GetWindowsDirectoryW(windows, kFolderChars);
    if (length == 0 || length >= kFolderChars || !::PathStripToRootW(windows)) return false;
    if (!folder.Assign(windows)) return false;
  } else {
    return false;
  }
  *token = static_cast<WideString&&>(folder);
  return !token->IsEmpty();
}

bool CorrectVersionFromKernel(OSVERSIONINFOEXW* record) {
  WideString kernel;
  if (!kernel.Assign(L"@SYSTEM") || !ExpandFolderToken(&kernel)) return false;
  if (!kernel.Append(L"\\ntoskrnl.exe")) return false;
  FileVersion version = {};
  if (!::PathFileExistsW(kernel.Get()) || !GetFileVersion(kernel.Get(), &version)) return false;
  const DWORD major = version.high >> 16;
  const DWORD minor = version.high & 0xFFFF;
  if (record->dwMajorVersion < major || (record->dwMajorVersion == major && record->dwMinorVersion < minor)) {
    record->dwMinorVersion = minor;
    record->dwPlatformId = VER_PLATFORM_WIN32_NT;
    record->dwMajorVersion = major;
    DWORD level = 0;
    if (!ReadServicePackLevel(&level)) level = 0;  // a missing value is service pack 0
    record->wServicePackMajor = static_cast<WORD>(level >> kServicePackShift);
    return true;
  }
  return false;
}

void DescribeOperatingSystem(WideString* description, VersionQuery query) {
  OSVERSIONINFOEXW record;
  if (!ReadWindowsVersion(&record, query)) return;
  CorrectVersionFromKernel(&record);
  wchar_t text[48];
  const int length = ::wsprintfW(text, L"win%d.%d.sp%d", static_cast<int>(record.dwMajorVersion),
                                 static_cast<int>(record.dwMinorVersion), static_cast<int>(record.wServicePackMajor));
  description->Assign(text, static_cast<size_t>(length));
}

}  // namespace tmn
