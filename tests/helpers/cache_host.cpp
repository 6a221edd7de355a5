// The statistics cache and log as a DLL carries them: the plug-in's own
// entry routine and process-wide objects, and one export that stores and
// logs a request. Loaded by cachestore.exe, so that a store is followed by
// the teardown a plug-in meets: at the end of the process, or on unload.
#include <windows.h>

#include <stdint.h>

#include "beacon/statistic_cache.h"
#include "beacon/statistic_log.h"
#include "beacon/statistic_store.h"
#include "report/process_objects.h"

namespace {
tmn::StatisticLogWriter g_log;
}  // namespace

extern "C" __declspec(dllexport) HRESULT StoreRequest(const wchar_t* url, const wchar_t* referer,
                                                       int64_t requestTime) {
  tmn::HeldKeptRequest kept;
  tmn::g_statisticCache.KeepRequest(url, referer, requestTime, &kept);
  return tmn::StoreKeptRequest(tmn::g_statisticCache, g_log, url, referer, requestTime, &kept, 2000,
                               tmn::Deadline(4000));
}
