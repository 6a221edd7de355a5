#include "report/system_description.h"

#include <shlwapi.h>

#include "fs/path_operations.h"

namespace tmn {

namespace {

constexpr wchar_t kWindowsControlKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Windows";
// "CSDVersion" holds the service pack in its second byte.
constexpr unsigned kServicePackShift = 8;

// Not declared for XP, and absent from 32-bit Windows before Vista, which
// redirects nothing.
using TurnRedirectionOff = BOOL(WINAPI*)(void** state);
using TurnRedirectionBack = BOOL(WINAPI*)(void* state);

template <typename Call>
Call FindKernelCall(const char* name) {
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  return kernel == nullptr ? nullptr : reinterpret_cast<Call>(reinterpret_cast<void*>(::GetProcAddress(kernel, name)));
}

}  // namespace

RealSystemFolderView::RealSystemFolderView() {
  const auto turnOff = FindKernelCall<TurnRedirectionOff>("Wow64DisableWow64FsRedirection");
  turnedOff_ = turnOff != nullptr && turnOff(&redirection_);
}

RealSystemFolderView::~RealSystemFolderView() {
  if (!turnedOff_) return;
  const auto turnBack = FindKernelCall<TurnRedirectionBack>("Wow64RevertWow64FsRedirection");
  if (turnBack != nullptr) turnBack(redirection_);
}

bool KernelFilePath(WideString* path) {
  // The system folder itself, not SysWOW64, whatever the bitness.
  wchar_t system[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  WideString kernel;
  if (!kernel.Assign(system, length) || !AppendPath(kernel, L"ntoskrnl.exe")) return false;
  *path = static_cast<WideString&&>(kernel);
  return true;
}

bool ReadKernelVersion(FileVersion* version) {
  WideString kernel;
  if (!KernelFilePath(&kernel)) return false;
  const RealSystemFolderView view;
  return GetFileVersion(kernel.Get(), version);
}

bool ReadServicePackLevel(DWORD* out) {
  DWORD type = REG_DWORD;
  DWORD bytes = sizeof(*out);
  return ::SHGetValueW(HKEY_LOCAL_MACHINE, kWindowsControlKey, L"CSDVersion", &type, out, &bytes) == ERROR_SUCCESS;
}

bool CorrectVersionFromKernel(OSVERSIONINFOEXW* record, const FileVersion& kernel) {
  const DWORD major = kernel.high >> 16;
  const DWORD minor = kernel.high & 0xFFFF;
  if (record->dwMajorVersion > major || (record->dwMajorVersion == major && record->dwMinorVersion >= minor))
    return false;  // a version is never lowered
  record->dwMinorVersion = minor;
  record->dwPlatformId = VER_PLATFORM_WIN32_NT;
  record->dwMajorVersion = major;
  DWORD level = 0;
  if (!ReadServicePackLevel(&level)) level = 0;  // a missing value is service pack 0
  record->wServicePackMajor = static_cast<WORD>(level >> kServicePackShift);
  return true;
}

void DescribeOperatingSystem(WideString* description, VersionQuery query) {
  OSVERSIONINFOEXW record;
  if (!ReadWindowsVersion(&record, query)) return;
  FileVersion kernel = {};
  if (ReadKernelVersion(&kernel)) CorrectVersionFromKernel(&record, kernel);
  wchar_t text[48];
  const int length = ::wsprintfW(text, L"win%d.%d.sp%d", static_cast<int>(record.dwMajorVersion),
                                 static_cast<int>(record.dwMinorVersion), static_cast<int>(record.wServicePackMajor));
  description->Assign(text, static_cast<size_t>(length));
}

}  // namespace tmn
