#include "base/this_module.h"

namespace tmn {

namespace {
HMODULE g_thisModule = nullptr;
bool g_processIsExiting = false;
}  // namespace

HMODULE ThisModule() { return g_thisModule; }
void KeepThisModule(HMODULE module) { g_thisModule = module; }
bool ProcessIsExiting() { return g_processIsExiting; }
void KeepProcessExiting(bool exiting) { g_processIsExiting = exiting; }

}  // namespace tmn
