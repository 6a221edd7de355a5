// The plug-in's own module, kept when Windows loads it: the settings look
// for the product beside it when the registry names no install folder.
#pragma once

#include <windows.h>

namespace tmn {

// Null until the module is loaded as a DLL; GetModuleFileNameW then names
// the host executable instead.
HMODULE ThisModule();
void KeepThisModule(HMODULE module);

}  // namespace tmn
