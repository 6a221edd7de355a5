// The process-wide objects of the reports and of the beacon below them. They
// are defined together in this one file because C++ orders construction only within a file: they are
// built in the order written here when the module loads, before any export
// runs, and destroyed in the reverse order when it unloads, under the loader
// lock (so their destructors may close handles and free libraries, but never
// wait for another thread):
//   1. the lock of the install identity's first load;
//   2. the statistics cache, which at once opens or creates its mutex.
// One more is built on first use: the beacon client (below). Its
// destruction joins the module's exit list when it is made, after the
// objects above, and so it is destroyed first, before the cache.
// The wide string's storage is the process heap, which needs no object.
// A report's worker, which may outlive an export call and end only after
// the host freed the module, holds the module meanwhile: these objects
// live as long as it runs, and it reaches them only as the objects allow
// (the identity under its lock, the cache under its mutex, the log one line
// at a time). The version texts and the product version a report names are
// its own.
#include "report/process_objects.h"

#include "base/unique.h"
#include "beacon/statistic_cache.h"
#include "beacon/statistics.h"

namespace tmn {

CriticalSection g_identityLock;  // 1

// 2. The statistics cache. When the module is unloaded with the process
// still running, it frees the database library; at the end of the process
// it leaves the library alone (see ~StatisticCache).
StatisticCache g_statisticCache;

// 3. The beacon client, made by the first install beacon of the process.
// It stores into the cache above and logs into the data folder; its
// destructor closes the statistic log.
CStatistics& ProcessStatistics() {
  static CStatistics statistics(g_statisticCache, nullptr);
  return statistics;
}

}  // namespace tmn
