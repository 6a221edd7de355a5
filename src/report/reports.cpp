#include "report/reports.h"

#include <utility>

#include "report/collect_client.h"
#include "report/system_description.h"

namespace tmn {

int32_t UninstallFlag(const WideString& text) { return text.Equals(L"1") ? 1 : 0; }

void SendUninstallReport(int32_t flag) {
  DescribeOperatingSystem();  // the public record names the system
  CCollectClient client;
  RecordOwner record;
  if (FAILED(client.CreateRecord(&record))) return;
  record.get()->SetTable(L"lumbra_uninstall");
  record.get()->AddInt(L"uninstall", flag);
  client.Submit(std::move(record));
}

}  // namespace tmn
