// The current time as reports carry it: whole seconds since 1970-01-01
// 00:00 UTC.
#pragma once

#include <stdint.h>

namespace tmn {

int64_t CurrentUnixTime();

}  // namespace tmn
