#include "beacon/statistic_store.h"

#include "base/result.h"

namespace tmn {

namespace {

void LogFolded(void* context, const wchar_t* url, const wchar_t* referer, int64_t requestTime) {
  static_cast<StatisticLogWriter*>(context)->WriteStatisticLog(url, referer, kStoredTag, requestTime, 1, S_OK);
}

StoreNotes NotesFor(StatisticLogWriter& log) {
  StoreNotes notes;
  notes.folded = LogFolded;
  notes.context = &log;
  return notes;
}

// A library passed over for its machine fails the store as a missing one
// does; the line before the store's own says which file it was.
void LogSkippedLibrary(StatisticLogWriter& log, const StoreNotes& notes) {
  if (!notes.otherMachineLibrary.IsEmpty()) log.WriteSkippedLibrary(notes.otherMachineLibrary.Get());
}

}  // namespace

HRESULT StoreKeptRequest(StatisticCache& cache, StatisticLogWriter& log, const wchar_t* url, const wchar_t* referer,
                         int64_t requestTime, HeldKeptRequest* kept, DWORD lockWaitMs, const Deadline& foldUntil) {
  if (url == nullptr || *url == L'\0') return HResultFromWin32(ERROR_BAD_ARGUMENTS);
  StoreNotes notes = NotesFor(log);
  const HRESULT result = cache.StoreRequest(url, referer, requestTime, kept, lockWaitMs, foldUntil, &notes);
  LogSkippedLibrary(log, notes);
  log.WriteStatisticLog(url, referer, SUCCEEDED(result) ? kStoredTag : kStoreFailedTag, requestTime, 1, result);
  return result;
}

HRESULT SaveFailedRequest(StatisticCache& cache, StatisticLogWriter& log, const wchar_t* url,
                          const wchar_t* referer, int64_t requestTime, DWORD lockWaitMs) {
  HeldKeptRequest kept;
  cache.KeepRequest(url, referer, requestTime, &kept);
  return StoreKeptRequest(cache, log, url, referer, requestTime, &kept, lockWaitMs,
                          Deadline(lockWaitMs + kCacheLockWaitMs));
}

void FoldKeptRequests(StatisticCache& cache, StatisticLogWriter& log, DWORD lockWaitMs, const Deadline& foldUntil) {
  if (!cache.HasKeptRequests()) return;
  StoreNotes notes = NotesFor(log);
  cache.FoldKeptRequests(lockWaitMs, foldUntil, &notes);
  LogSkippedLibrary(log, notes);
}

}  // namespace tmn
