// The store-and-log step of an undelivered request: into the offline cache,
// and lines in the statistic log saying how the store went. The lines are
// written once the cache's machine-wide lock is let go: other installers'
// stores never wait for this one's log.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "base/deadline.h"
#include "beacon/statistic_cache.h"
#include "beacon/statistic_log.h"

namespace tmn {

// Stores the request, kept before in kept (or not held), and logs the
// result of the store: "INFO.SaveStatistic" when it is 0 or more,
// "ERROR.SaveStatistic" with the code when it is negative, with the URL,
// the referer, the time and a count of 1. A request whose store failed
// stays kept for a later store. Each request of an earlier call that the
// store folded in, while until had time, gets an "INFO.SaveStatistic" line
// of its own, written while until has time (each line waits for the log's
// lock only so long); the files moved aside as holding no kept request get
// one line together. An empty URL is neither stored nor logged and gives
// 0x800700A0. The store waits at most lockWaitMs for the cache's mutex; a
// store that times out is logged as failed with
// HRESULT_FROM_WIN32(ERROR_TIMEOUT). A library passed over gets a line of
// its own, naming the file.
HRESULT StoreKeptRequest(StatisticCache& cache, StatisticLogWriter& log, const wchar_t* url, const wchar_t* referer,
                         int64_t requestTime, HeldKeptRequest* kept, DWORD lockWaitMs, const Deadline& until);

// Folds what earlier calls kept into the cache, with lines as above, when
// any is kept: a delivered request leaves no store that would.
void FoldKeptRequests(StatisticCache& cache, StatisticLogWriter& log, DWORD lockWaitMs, const Deadline& until);

}  // namespace tmn
