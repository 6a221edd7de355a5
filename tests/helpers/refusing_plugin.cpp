// A tmnsisplug.dll that Windows refuses to load (its entry routine fails),
// with the plug-in's exports, so that makensis takes it for the plug-in.
#include <windows.h>

#define REFUSED(name) \
  extern "C" void __cdecl name(HWND, int, void*, void*, void*) {}
REFUSED(CheckCloseMain) REFUSED(KillProcByName) REFUSED(KillProcByPid) REFUSED(PowerDeleteDir)
REFUSED(PromptDelHotfixFiles) REFUSED(PromptDeleteDriverDownloadedFiles) REFUSED(PromptDeleteHotfixFiles)
REFUSED(PromptDeleteSoftDownloadedFiles) REFUSED(ReportInstall) REFUSED(ReportUninstall)
REFUSED(WindowsPlatformArchitecture)

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) { return reason != DLL_PROCESS_ATTACH; }
