// A process that just waits: tests end it by name or look for it.
// Usage: tmwait.exe [seconds]  (default 120, so a forgotten copy goes away)
#include <windows.h>

#include <stdlib.h>

int wmain(int argc, wchar_t** argv) {
  const long seconds = argc > 1 ? wcstol(argv[1], nullptr, 10) : 120;
  Sleep(static_cast<DWORD>(seconds) * 1000);
  return 0;
}
