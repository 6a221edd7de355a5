// The plug-in's own module, kept when Windows loads it: the settings look
// for the product beside it when the registry names no install folder.
#pragma once

#include <windows.h>

namespace tmn {

// Null until the module is loaded as a DLL; GetModuleFileNameW then names
// the host executable instead.
HMODULE ThisModule();
void KeepThisModule(HMODULE module);

// Whether the module is being detached because the process ends (DllMain's
// reserved argument is set then). The libraries it loaded may already have
// been detached, so the process-wide objects must not call into them.
bool ProcessIsExiting();
void KeepProcessExiting(bool exiting);

}  // namespace tmn
