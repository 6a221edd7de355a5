// The beacon's process-wide objects. beacon/ declares only their types; the
// objects are defined with the reports' own in process_objects.cpp, in their
// order of construction.
#pragma once

#include "beacon/statistic_cache.h"
#include "beacon/statistics.h"

namespace tmn {

// The process-wide cache, built when the module loads.
extern StatisticCache g_statisticCache;

// The process's beacon client, storing into g_statisticCache and logging
// into the data folder: made by its first use and destroyed when the module
// unloads, before the offline cache.
CStatistics& ProcessStatistics();

}  // namespace tmn
