// Holds the byte the statistic log's writers lock, as any user may.
// Usage: lockhold.exe FILE READY_FILE SECONDS (READY_FILE made once held).
#include <windows.h>

#include <stdlib.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  OVERLAPPED place = {};
  place.Offset = 0xFFFFFFFE;
  place.OffsetHigh = 0x7FFFFFFF;
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &place)) return 4;
  CloseHandle(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  Sleep(static_cast<DWORD>(wcstol(argv[3], nullptr, 10)) * 1000);
  return 0;
}
