#include "report/system_description.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "base/ascii.h"
#include "base/heap.h"
#include "base/unique.h"

namespace tmn {

const ShellFolderRow kShellFolderTable[kShellFolderRows] = {
    {L"WINDOWS", 0x24},          {L"SYSTEM", 0x25},
    {L"PROGRAM_FILES", 0x26},    {L"PROGRAM_FILES_COMMON", 0x2B},
    {L"COOKIES", 0x21},          {L"DESKTOP", 0x00},
    {L"DESKTOPDIRECTORY", 0x10}, {L"FAVORITES", 0x06},
    {L"FONTS", 0x14},            {L"HISTORY", 0x22},
    {L"LOCAL_APPDATA", 0x1C},    {L"PERSONAL", 0x05},
    {L"MYDOCUMENTS", 0x05},      {L"MYPICTURES", 0x27},
    {L"PROGRAMS", 0x02},         {L"RECENT", 0x08},
    {L"SENDTO", 0x09},           {L"STARTMENU", 0x0B},
    {L"STARTUP", 0x07},          {L"COMMON_APPDATA", 0x23},
    {L"COMMON_DESKTOPDIRECTORY", 0x19}, {L"COMMON_DOCUMENTS", 0x2E},
    {L"COMMON_PROGRAMS", 0x17},  {L"COMMON_STARTMENU", 0x16},
    {L"COMMON_STARTUP", 0x18},
};

namespace {

constexpr wchar_t kShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr DWORD kFolderChars = MAX_PATH;  // 260

// The text of a folder buffer up to its first NUL, and never more than
// 259 characters: a value that fills the whole buffer has no NUL in it.
bool AssignFolderText(const wchar_t (&buffer)[kFolderChars], WideString* out) {
  size_t length = 0;
  while (length < kFolderChars - 1 && buffer[length] != L'\0') ++length;
  return out->Assign(buffer, length);
}

}  // namespace

bool GetFileVersion(const wchar_t* file, FileVersion* version) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(file, &ignored);
  if (size == 0) return false;
  UniqueHeapBlock block(HeapAllocate(size));
  if (!block) return false;
  if (!::GetFileVersionInfoW(file, 0, size, block.get())) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (!::VerQueryValueW(block.get(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || fixed == nullptr ||
      fixedSize < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  version->high = fixed->dwFileVersionMS;
  version->low = fixed->dwFileVersionLS;
  return true;
}

bool FormatFileVersion(const FileVersion& version, WideString* out) {
  wchar_t text[32];
  const int length = ::wsprintfW(text, L"%d.%d.%d.%d", static_cast<int>(version.high >> 16),
                                 static_cast<int>(version.high & 0xFFFF), static_cast<int>(version.low >> 16),
                                 static_cast<int>(version.low & 0xFFFF));
  return out->Assign(text, static_cast<size_t>(length));
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
  return ::SHGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Windows", L"CSDVersion", &type,
                       out, &bytes) == ERROR_SUCCESS;
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
    record->wServicePackMajor = static_cast<WORD>(level >> 8);
    return true;
  }
  return false;
}

void DescribeOperatingSystem(VersionQuery query) {
  OSVERSIONINFOEXW record = {};
  record.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);  // 284
  if (!query(reinterpret_cast<OSVERSIONINFOW*>(&record))) {
    record = OSVERSIONINFOEXW{};
    record.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);  // 276: the extended fields stay 0
    if (!query(reinterpret_cast<OSVERSIONINFOW*>(&record))) return;
  }
  CorrectVersionFromKernel(&record);
  wchar_t text[48];
  const int length = ::wsprintfW(text, L"win%d.%d.sp%d", static_cast<int>(record.dwMajorVersion),
                                 static_cast<int>(record.dwMinorVersion), static_cast<int>(record.wServicePackMajor));
  g_osDescription.Assign(text, static_cast<size_t>(length));
}

}  // namespace tmn
