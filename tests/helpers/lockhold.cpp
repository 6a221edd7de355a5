// Holds a byte lock on a file, as any user may on a log in a folder open to
// all: by default the byte the statistic log's writers lock, or the whole
// file with "all".
// Usage: lockhold.exe FILE READY_FILE SECONDS [all]
// The ready file is made once the lock is held. Exit codes: 0 held for the
// time asked, 2 bad usage, 3 the file could not be opened, 4 nor locked.
#include <windows.h>

#include <stdlib.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  const bool all = argc > 4 && wcscmp(argv[4], L"all") == 0;
  OVERLAPPED place = {};
  place.Offset = all ? 0 : 0xFFFFFFFE;
  place.OffsetHigh = all ? 0 : 0x7FFFFFFF;
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, all ? 0xFFFFFFFF : 1,
                  all ? 0x7FFFFFFF : 0, &place))
    return 4;
  HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
  Sleep(static_cast<DWORD>(wcstol(argv[3], nullptr, 10)) * 1000);
  CloseHandle(file);
  return 0;
}
