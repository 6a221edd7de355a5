#include "base/windows_version.h"

#include <windows.h>

namespace tmn {

bool IsPreVistaWindows() {
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);  // 276
  ::GetVersionExW(&version);  // a failed call leaves the record zero
  return version.dwMajorVersion < 6;
}

}  // namespace tmn
