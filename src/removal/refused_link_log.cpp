#include "removal/refused_link_log.h"

#include "beacon/statistic_log.h"
#include "fs/folder_by_path.h"

namespace tmn {

namespace {

void LogRefusal(const WideString& url, const wchar_t* tag, HRESULT why) {
  StatisticLogWriter log;
  log.WriteStatisticLog(url.Get(), nullptr, tag, 0, 0, why);
}

}  // namespace

HRESULT LogRefusedLink(HRESULT result, const WideString& link) {
  if (result == kLinkNotTrusted && !link.IsEmpty()) LogRefusal(link, kRefusedLinkTag, result);
  return result;
}

void LogIgnoredLedger(const WideString& file, HRESULT why) { LogRefusal(file, kIgnoredLedgerTag, why); }

}  // namespace tmn
