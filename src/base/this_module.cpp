#include "base/this_module.h"

namespace tmn {

namespace {
HMODULE g_thisModule = nullptr;
}  // namespace

HMODULE ThisModule() { return g_thisModule; }
void KeepThisModule(HMODULE module) { g_thisModule = module; }

}  // namespace tmn
