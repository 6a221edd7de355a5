#include "removal/refused_link_log.h"

#include "beacon/statistic_log.h"
#include "fs/folder_by_path.h"

namespace tmn {

HRESULT LogRefusedLink(HRESULT result, const WideString& link) {
  if (result == kLinkNotTrusted && !link.IsEmpty()) {
    StatisticLogWriter log;
    log.WriteStatisticLog(link.Get(), nullptr, kRefusedLinkTag, 0, 0, result);
  }
  return result;
}

}  // namespace tmn
