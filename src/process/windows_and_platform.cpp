#include <windows.h>

#include "base/windows_version.h"
#include "process/process_control.h"

namespace tmn {

const wchar_t* const kMainWindowClasses[2] = {
    L"{11BB6165-8ABF-4d25-B398-BF34128E8398}",
    L"{4E767414-5EF3-4a0a-BC5D-7EDD2D005169}",
};

void RequestMainWindowsClose() {
  for (const wchar_t* windowClass : kMainWindowClasses) {
    HWND window = ::FindWindowW(windowClass, nullptr);
    if (window != nullptr) ::PostMessageW(window, WM_SYSCOMMAND, kCloseRequest, 0);
  }
}

const wchar_t* ArchitectureText(const ArchitectureFacts& facts) {
  if (!facts.versionRead || facts.platformId != VER_PLATFORM_WIN32_NT || !facts.hasNativeSystemInfo)
    return L"32";
  return facts.processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
                 facts.processorArchitecture == PROCESSOR_ARCHITECTURE_IA64
             ? L"64"
             : L"32";
}

ArchitectureFacts ReadArchitectureFacts() {
  ArchitectureFacts facts = {};
  OSVERSIONINFOEXW version;
  facts.versionRead = ReadWindowsVersion(&version);
  facts.platformId = version.dwPlatformId;
  if (!facts.versionRead || facts.platformId != VER_PLATFORM_WIN32_NT) return facts;

  using GetNativeSystemInfoFn = void(WINAPI*)(SYSTEM_INFO*);
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  auto getNativeSystemInfo = kernel32 == nullptr
      ? nullptr
      : reinterpret_cast<GetNativeSystemInfoFn>(
            reinterpret_cast<void*>(::GetProcAddress(kernel32, "GetNativeSystemInfo")));
  facts.hasNativeSystemInfo = getNativeSystemInfo != nullptr;
  if (facts.hasNativeSystemInfo) {
    SYSTEM_INFO info = {};
    getNativeSystemInfo(&info);
    facts.processorArchitecture = info.wProcessorArchitecture;
  }
  return facts;
}

}  // namespace tmn
