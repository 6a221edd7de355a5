#include "beacon/statistic_store.h"

#include "base/result.h"

namespace tmn {

HRESULT SaveFailedRequest(StatisticCache& cache, StatisticLogWriter& log, const wchar_t* url,
                          const wchar_t* referer, int64_t requestTime, DWORD lockWaitMs) {
  if (url == nullptr || *url == L'\0') return HResultFromWin32(ERROR_BAD_ARGUMENTS);
  const HRESULT result = cache.SaveRequest(url, referer, requestTime, lockWaitMs);
  // A library passed over for its machine fails the store as a missing one
  // does; the line before the store's own says which file it was.
  if (!cache.otherMachineLibrary().IsEmpty()) log.WriteSkippedLibrary(cache.otherMachineLibrary().Get());
  log.WriteStatisticLog(url, referer, SUCCEEDED(result) ? kStoredTag : kStoreFailedTag, requestTime, 1, result);
  return result;
}

}  // namespace tmn
