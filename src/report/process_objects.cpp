// The process-wide objects of the reports and of the beacon below them. They
// are defined together in this one file because C++ orders construction only within a file: they are
// built in the order written here when the module loads, before any export
// runs, and destroyed in the reverse order when it unloads, under the loader
// lock (so their destructors may close handles and free libraries, but never
// wait for another thread):
//   1. the product version text of the install beacon, empty;
//   2. the system description, "win" until it is described;
//   3. the statistics cache, which at once opens or creates its mutex.
// One more is built on first use: the beacon client (below). Its
// destruction joins the module's exit list when it is made, after the
// objects above, and so it is destroyed first, before the cache.
// The wide string's storage is the process heap, which needs no object.
// The beacon's worker thread, which may outlive an export call and end
// only after the host freed the module, touches none of these objects: it
// holds the module and shares only a heap block with the caller.
#include "report/process_objects.h"

#include <utility>

#include "base/wide_string.h"
#include "beacon/statistic_cache.h"
#include "beacon/statistics.h"
#include "report/install_identity.h"
#include "report/system_description.h"

namespace tmn {

namespace {
WideString TextOf(const wchar_t* text) {
  WideString made;
  made.Assign(text);
  return made;
}
}  // namespace

WideString g_productVersion;                   // 1
WideString g_osDescription = TextOf(L"win");  // 2

// 3. The statistics cache. When the module is unloaded with the process
// still running, it frees the database library; at the end of the process
// it leaves the library alone (see ~StatisticCache).
StatisticCache g_statisticCache;

// 4. The beacon client, made by the first install beacon of the process.
// It stores into the cache above and logs into the data folder; its
// destructor closes the statistic log.
CStatistics& ProcessStatistics() {
  static CStatistics statistics(g_statisticCache, nullptr);
  return statistics;
}

}  // namespace tmn
