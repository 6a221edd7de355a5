// Lists the running processes as Windows sees them ("pid<TAB>name" per
// line, UTF-8), so that tests check from a Toolhelp snapshot and not from
// Unix, where an ended process can linger as a zombie.
#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>

int main() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 1;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    char name[MAX_PATH * 3];
    WideCharToMultiByte(CP_UTF8, 0, entry.szExeFile, -1, name, sizeof(name), nullptr, nullptr);
    printf("%lu\t%s\n", entry.th32ProcessID, name);
  }
  CloseHandle(snapshot);
  return 0;
}
