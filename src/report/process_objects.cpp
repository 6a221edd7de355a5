// The report subsystem's process-wide objects. They are defined together in
// this one file because C++ orders construction only within a file: they are
// built in the order written here when the module loads, before any export
// runs, and destroyed in the reverse order when it unloads, under the loader
// lock (so their destructors may close handles and free libraries, but never
// wait for another thread):
//   1. the product version text of the install beacon, empty;
//   2. the system description, "win" until it is described;
//   3. the statistics cache, which at once opens or creates its mutex.
// The wide string's storage is the process heap, which needs no object.
#include <utility>

#include "base/wide_string.h"
#include "report/install_identity.h"
#include "report/statistic_cache.h"
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

}  // namespace tmn
