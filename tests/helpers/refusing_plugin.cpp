// A tmnsisplug.dll that Windows refuses to load: its entry routine fails.
// It carries the plug-in's exports, so that makensis takes it for the
// plug-in, and installers built with it meet a plug-in that cannot be
// loaded, as where the file is missing, blocked or damaged.
#include <windows.h>

#define REFUSED_EXPORT(name) \
  extern "C" void __cdecl name(HWND, int, void*, void*, void*) {}

REFUSED_EXPORT(CheckCloseMain)
REFUSED_EXPORT(KillProcByName)
REFUSED_EXPORT(KillProcByPid)
REFUSED_EXPORT(PowerDeleteDir)
REFUSED_EXPORT(PromptDelHotfixFiles)
REFUSED_EXPORT(PromptDeleteDriverDownloadedFiles)
REFUSED_EXPORT(PromptDeleteHotfixFiles)
REFUSED_EXPORT(PromptDeleteSoftDownloadedFiles)
REFUSED_EXPORT(ReportInstall)
REFUSED_EXPORT(ReportUninstall)
REFUSED_EXPORT(WindowsPlatformArchitecture)

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) { return reason != DLL_PROCESS_ATTACH; }
