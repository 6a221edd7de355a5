// The process-wide objects of the reports and of the beacon. beacon/
// declares only their types; the objects are defined in process_objects.cpp,
// in their order of construction.
#pragma once

#include "base/unique.h"
#include "beacon/statistic_cache.h"
#include "beacon/statistics.h"

namespace tmn {

// Guards the first load of the install identity.
extern CriticalSection g_identityLock;

// The process-wide cache, built when the module loads.
extern StatisticCache g_statisticCache;

// The process's beacon client, storing into g_statisticCache and logging
// into the data folder: made by its first use and destroyed when the module
// unloads, before the offline cache. Made on the installer's thread only;
// the reports' workers use what it made.
CStatistics& ProcessStatistics();

}  // namespace tmn
