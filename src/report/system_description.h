// The short description of the running Windows that reports carry, such as
// "win6.1.sp1": the version Windows reports, raised to the version of the
// kernel file when that is newer.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "base/wide_string.h"
#include "base/windows_version.h"
#include "fs/file_version.h"

namespace tmn {

// The text a report starts from: kept when the version cannot be read.
constexpr wchar_t kUndescribedSystem[] = L"win";

// Sets description to "win%d.%d.sp%d" of major, minor and service pack;
// leaves it as it was when the version cannot be read at all. Each report
// describes the system for itself.
void DescribeOperatingSystem(WideString* description, VersionQuery query = ::GetVersionExW);

// The kernel file of the system itself: "ntoskrnl.exe" in the system
// folder (GetSystemDirectoryW), which no user's setting names.
bool KernelFilePath(WideString* path);

// While it lives, the calling thread sees the system's own System32, also
// in a 32-bit process on 64-bit Windows, whose "System32" leads to SysWOW64
// otherwise. Nothing may be loaded meanwhile.
class RealSystemFolderView {
 public:
  RealSystemFolderView();
  ~RealSystemFolderView();
  RealSystemFolderView(const RealSystemFolderView&) = delete;
  RealSystemFolderView& operator=(const RealSystemFolderView&) = delete;

 private:
  void* redirection_ = nullptr;
  bool turnedOff_ = false;
};

// The kernel file's version, read in the real system folder.
bool ReadKernelVersion(FileVersion* version);

// Raises the record to the kernel's major and minor version, never lowers
// it; true when it raised it. The service pack then comes from the registry.
bool CorrectVersionFromKernel(OSVERSIONINFOEXW* record, const FileVersion& kernel);

// The "CSDVersion" value: the service pack in its second byte.
bool ReadServicePackLevel(DWORD* out);

}  // namespace tmn
