#include "report/reports.h"

#include <utility>

#include "beacon/endpoints.h"
#include "beacon/statistics.h"
#include "report/collect_client.h"
#include "report/install_identity.h"
#include "report/process_objects.h"
#include "report/system_description.h"

namespace tmn {

namespace {

// One record of a table, after the public record, through a client opened
// for this report alone. A record the library says is not ready is given
// back unfilled.
template <typename Fill>
void SendRecord(const wchar_t* table, const WideString* productVersion, Fill fill) {
  DescribeOperatingSystem();  // the public record names the system
  CCollectClient client(productVersion);
  RecordOwner record;
  if (FAILED(client.CreateRecord(&record))) return;
  record.get()->SetTable(table);
  fill(record.get());
  client.Submit(std::move(record));
}

}  // namespace

int32_t SendInstallBeacon() {
  GetProductVersion(&g_productVersion);
  WideString referer;
  if (!referer.Assign(kInstallReportUrl) || !referer.Append(L'/') || !referer.Append(g_productVersion)) return 0;
  return ProcessStatistics().ReportToCounter(referer.Get());
}

void SendInstallReport() {
  SendInstallBeacon();
  // The version the beacon worked out serves the record as well.
  SendRecord(L"lumbra_install", &g_productVersion, [](ICollectRecord* record) {
    record->AddInt(L"preid", GetInstallIdentity().preOemId);
    record->AddInt(L"update", GetInstallIdentity().installType == 1 ? 1 : 0);
    record->AddInt(L"cover", GetInstallIdentity().installType == 2 ? 1 : 0);
  });
}

int32_t UninstallFlag(const WideString& text) { return text.Equals(L"1") ? 1 : 0; }

void SendUninstallReport(int32_t flag) {
  SendRecord(L"lumbra_uninstall", nullptr, [flag](ICollectRecord* record) { record->AddInt(L"uninstall", flag); });
}

}  // namespace tmn
