#include "beacon/statistic_store.h"

#include "base/result.h"

namespace tmn {

namespace {

// A library passed over fails the store as a missing one does; the line
// before the store's own says which file it was.
void LogPassedOver(StatisticLogWriter& log, const StoreNotes& notes) {
  if (!notes.passedOver.path.IsEmpty())
    log.WriteSkippedLibrary(notes.passedOver.path.Get(), notes.passedOver.LoggedCode());
}

// What the store did besides its own row: the files moved aside, the
// requests folded in.
void LogFoldedAndRefused(StatisticLogWriter& log, const StoreNotes& notes, const Deadline& until) {
  log.WriteRefusedKeptFiles(notes.refusedFiles, kNotAKeptRequest);
  for (const KeptEntry& entry : notes.folded)
    log.WriteStatisticLog(entry.url.Get(), entry.referer.Get(), kStoredTag, entry.requestTime, 1, S_OK, until);
}

}  // namespace

HRESULT StoreKeptRequest(StatisticCache& cache, StatisticLogWriter& log, const wchar_t* url, const wchar_t* referer,
                         int64_t requestTime, HeldKeptRequest* kept, DWORD lockWaitMs, const Deadline& until) {
  if (url == nullptr || *url == L'\0') return HResultFromWin32(ERROR_BAD_ARGUMENTS);
  StoreNotes notes;
  const HRESULT result = cache.StoreRequest(url, referer, requestTime, kept, lockWaitMs, until, &notes);
  LogPassedOver(log, notes);
  log.WriteStatisticLog(url, referer, SUCCEEDED(result) ? kStoredTag : kStoreFailedTag, requestTime, 1, result, until);
  LogFoldedAndRefused(log, notes, until);
  return result;
}

void FoldKeptRequests(StatisticCache& cache, StatisticLogWriter& log, DWORD lockWaitMs, const Deadline& until) {
  if (!cache.HasKeptRequests()) return;
  StoreNotes notes;
  cache.FoldKeptRequests(lockWaitMs, until, &notes);
  LogPassedOver(log, notes);
  LogFoldedAndRefused(log, notes, until);
}

}  // namespace tmn
