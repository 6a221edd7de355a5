#include "base/unix_time.h"

#include <windows.h>

namespace tmn {

namespace {

// 1970-01-01 counted from 1601-01-01 in FILETIME's 100 ns units.
constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;
constexpr uint64_t kTicksPerSecond = 10000000u;

}  // namespace

int64_t CurrentUnixTime() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<int64_t>((ticks - kUnixEpochTicks) / kTicksPerSecond);
}

}  // namespace tmn
