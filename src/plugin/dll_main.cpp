#include <windows.h>

#include "base/this_module.h"

// The module's process-wide objects are built before this runs and torn
// down after the last detach; the entry routine only keeps the module's
// handle, by which the settings find the plug-in's own folder.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) tmn::KeepThisModule(module);
  return TRUE;
}
