#include <windows.h>

#include "base/this_module.h"

// The module's process-wide objects are built before this runs and torn
// down right after the detach. The entry routine keeps the module's handle,
// by which the settings find the plug-in's own folder, and whether the
// detach comes from the end of the process, which the objects' teardown
// must know.
// The runtime's start-up asks to patch references to data imported from
// other DLLs. The module is linked so that it has none
// (--disable-auto-import), so there is nothing to patch, and the runtime's
// patcher, with the stdio and memory-protection calls it brings, stays out.
extern "C" void _pei386_runtime_relocator() {}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) tmn::KeepThisModule(module);
  if (reason == DLL_PROCESS_DETACH) tmn::KeepProcessExiting(reserved != nullptr);
  return TRUE;
}
