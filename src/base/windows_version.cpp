#include "base/windows_version.h"

namespace tmn {

namespace {

// Extended first, then plain; the record is cleared before each try, so
// nothing a refused call wrote stays in it.
template <typename Extended, typename Plain>
bool ReadVersionRecord(Extended* record, BOOL(WINAPI* query)(Plain*)) {
  const DWORD sizes[] = {sizeof(Extended), sizeof(Plain)};
  for (const DWORD size : sizes) {
    *record = Extended{};
    record->dwOSVersionInfoSize = size;
    if (query(reinterpret_cast<Plain*>(record))) return true;
  }
  *record = Extended{};
  record->dwOSVersionInfoSize = sizeof(Plain);
  return false;
}

}  // namespace

bool ReadWindowsVersion(OSVERSIONINFOEXW* record, VersionQuery query) { return ReadVersionRecord(record, query); }

bool ReadWindowsVersionAnsi(OSVERSIONINFOEXA* record, VersionQueryAnsi query) {
  return ReadVersionRecord(record, query);
}

bool IsPreVistaWindows() {
  OSVERSIONINFOEXW version;
  ReadWindowsVersion(&version);  // a version that cannot be read stays zero
  return version.dwMajorVersion < 6;
}

}  // namespace tmn
