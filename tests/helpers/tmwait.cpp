// A process that just waits: tests end it by name or look for it.
// Usage: tmwait.exe [seconds] [ready file]
// (default 120 seconds, so a forgotten copy goes away). With a ready file,
// the file is made once the process runs, so that a script can wait for it
// without starting another program.
#include <windows.h>

#include <stdlib.h>

int wmain(int argc, wchar_t** argv) {
  const long seconds = argc > 1 ? wcstol(argv[1], nullptr, 10) : 120;
  if (argc > 2) {
    HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
  }
  Sleep(static_cast<DWORD>(seconds) * 1000);
  return 0;
}
