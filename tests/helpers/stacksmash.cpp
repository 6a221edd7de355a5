// Overruns a buffer on its own stack, through code built with the stack
// protector and the module's own guard: the process must end with
// STATUS_STACK_BUFFER_OVERRUN before the overrun function returns.
// Usage: stacksmash.exe [count]   (writes count bytes into 16; default 64)
// Exits with 3 when the guard still holds its value from before the load.
#include <windows.h>

#include <stdlib.h>

extern "C" uintptr_t __stack_chk_guard;

namespace {

__attribute__((noinline)) int Overrun(size_t count) {
  char buffer[16];
  volatile char* write = buffer;  // writes the compiler may not drop
  for (size_t i = 0; i < count; ++i) write[i] = 'x';  // past the end when count > 16
  return write[0];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const size_t count = argc > 1 ? wcstoul(argv[1], nullptr, 10) : 64;
  if (__stack_chk_guard == 0xBB40E64E) return 3;
  return Overrun(count) == 'x' || count == 0 ? 0 : 4;
}
