// The stack protector's guard value and its failure handler, for the code
// built with -fstack-protector-strong. GCC's own library sets the guard
// from the CryptoAPI, which loads a cryptographic provider into the
// installer every time the module loads (and NSIS loads a plug-in anew for
// each call). The guard is set here instead the way the MSVC runtime sets
// its security cookie: from values that differ per process, per thread and
// per moment of loading.
#include <windows.h>

#include <stdint.h>

extern "C" {

uintptr_t __stack_chk_guard = 0xBB40E64E;  // until the module is loaded

// A smashed stack ends the process at once: nothing may run on it.
__attribute__((noreturn)) void __stack_chk_fail(void) {
  ::OutputDebugStringA("*** stack smashing detected ***: terminated\n");
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(STATUS_STACK_BUFFER_OVERRUN));
  for (;;) {
  }
}

}  // extern "C"

namespace {

// Runs before every other constructor of the module, so that no function
// protected by the guard is on the stack while it changes.
__attribute__((constructor(101), no_stack_protector)) void SetStackGuard() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  uintptr_t guard = now.dwLowDateTime ^ now.dwHighDateTime ^ ::GetCurrentProcessId() ^ ::GetCurrentThreadId() ^
                    ::GetTickCount() ^ counter.LowPart ^ counter.HighPart ^ reinterpret_cast<uintptr_t>(&guard);
  if (guard == 0 || guard == 0xBB40E64E) guard = 0xBB40E64F;
  __stack_chk_guard = guard;
}

}  // namespace
