#include "report/reports.h"

#include <utility>

#include "base/module_worker.h"
#include "base/result.h"
#include "base/unique.h"
#include "base/unix_time.h"
#include "beacon/endpoints.h"
#include "beacon/statistic_log.h"
#include "beacon/statistics.h"
#include "report/collect_client.h"
#include "report/install_identity.h"
#include "report/process_objects.h"
#include "report/system_description.h"

namespace tmn {

namespace {

// Who has a part of the report (the beacon, the record). The worker takes
// a part before it begins it; the installer's thread gives up, at its
// deadline, a part nobody has taken, which the worker then leaves.
constexpr LONG kOpen = 0;
constexpr LONG kTaken = 1;
constexpr LONG kHandedOver = 2;  // the record, filled, in the client's hands
constexpr LONG kDone = 3;
constexpr LONG kGivenUp = 4;

constexpr HRESULT kDeadlinePassed = static_cast<HRESULT>(0x800705B4);  // HRESULT_FROM_WIN32(ERROR_TIMEOUT)

// What the installer's thread and the report's worker share.
struct ReportJob {
  Deadline deadline;
  int64_t requestTime = 0;
  bool install = false;
  int32_t uninstallFlag = 0;
  volatile LONG beacon = kOpen;
  volatile LONG record = kOpen;
  WideString recordItems;  // "name=value;...", written before the record is handed over
};

bool Take(volatile LONG* part) { return ::InterlockedCompareExchange(part, kTaken, kOpen) == kOpen; }

const wchar_t* TableOf(const ReportJob& job) { return job.install ? L"lumbra_install" : L"lumbra_uninstall"; }

bool AppendItem(WideString& items, const wchar_t* name, int32_t value) {
  wchar_t text[16];
  const int length = ::wsprintfW(text, L"%d", static_cast<int>(value));
  return (items.IsEmpty() || items.Append(L';')) && items.Append(name) && items.Append(L'=') &&
         items.Append(text, static_cast<size_t>(length));
}

// The record's items, added to the record and written down for the log.
void AddItem(ICollectRecord* record, WideString& items, const wchar_t* name, int32_t value) {
  record->AddInt(name, value);
  AppendItem(items, name, value);
}

// One record of the report's table, after the public record, through a
// client opened for this report alone. A record the library says is not
// ready is given back unfilled.
void SendRecord(ReportJob& job, const WideString* productVersion, const WideString& osDescription) {
  CCollectClient client(productVersion, osDescription.Get());
  RecordOwner record;
  if (FAILED(client.CreateRecord(&record))) return;
  record.get()->SetTable(TableOf(job));
  WideString items;
  if (job.install) {
    const InstallIdentity& identity = GetInstallIdentity();
    AddItem(record.get(), items, L"preid", identity.preOemId);
    AddItem(record.get(), items, L"update", identity.installType == 1 ? 1 : 0);
    AddItem(record.get(), items, L"cover", identity.installType == 2 ? 1 : 0);
  } else {
    AddItem(record.get(), items, L"uninstall", job.uninstallFlag);
  }
  job.recordItems = std::move(items);
  ::InterlockedExchange(&job.record, kHandedOver);
  client.Submit(std::move(record));
}

void RunReport(void* context) {
  SharedBlock<ReportJob> job = SharedBlock<ReportJob>::Adopt(context);
  WideString version;
  if (job->install) {
    GetProductVersion(&version);  // the install folder may lie on a share
    if (Take(&job->beacon)) {
      SendInstallBeacon(version, job->requestTime, job->deadline);
      ::InterlockedExchange(&job->beacon, kDone);
    }
  }
  WideString osDescription;
  osDescription.Assign(kUndescribedSystem);
  DescribeOperatingSystem(&osDescription);  // the public record names the system
  if (Take(&job->record)) {
    SendRecord(*job, job->install ? &version : nullptr, osDescription);
    ::InterlockedExchange(&job->record, kDone);
  }
}

// At the deadline: gives up the parts the worker has not taken, and writes
// down every part that is not done, with why.
void LogUnfinished(ReportJob& job, HRESULT why) {
  const LONG beacon = ::InterlockedCompareExchange(&job.beacon, kGivenUp, kOpen);
  const LONG record = ::InterlockedCompareExchange(&job.record, kGivenUp, kOpen);
  // A taken beacon is kept beside the cache already: the worker, or a later
  // store, finishes it.
  const bool beaconDropped = job.install && beacon == kOpen;
  const bool recordUnsent = record != kDone;
  if (!beaconDropped && !recordUnsent) return;
  // Its own handle on the log, so that nothing the worker holds is waited
  // for; each line waits for the log's lock only as long as the call has.
  const DWORD left = job.deadline.RemainingMs() / 2;
  StatisticLogWriter log(nullptr, left < kLogLockWaitMs ? left : kLogLockWaitMs);
  // The referer names the product version, which could not be read in time.
  if (beaconDropped) log.WriteStatisticLog(kCounterPixelUrl, nullptr, kStoreFailedTag, job.requestTime, 1, why);
  if (!recordUnsent) return;
  WideString items;
  if (record == kHandedOver) {
    items.Assign(job.recordItems);
  } else if (!job.install) {
    AppendItem(items, L"uninstall", job.uninstallFlag);
  }
  log.WriteUnsentRecord(TableOf(job), items.Get(), job.requestTime, why);
}

// Runs the job on its worker and waits for it until the deadline, less the
// time the lines of what is unfinished need.
void RunWithin(SharedBlock<ReportJob>& job) {
  if (!job) return;
  UniqueHandle worker;
  HRESULT why = StartWorkerWith(job, RunReport, &worker);
  if (SUCCEEDED(why)) {
    if (WaitForModuleWorker(worker, job->deadline.RemainingMs(kUnfinishedLinesReserveMs))) return;
    why = kDeadlinePassed;
  }
  LogUnfinished(*job, why);
}

}  // namespace

int32_t SendInstallBeacon(const WideString& productVersion, int64_t requestTime, const Deadline& deadline) {
  WideString referer;
  if (!referer.Assign(kInstallReportUrl) || !referer.Append(L'/') || !referer.Append(productVersion)) return 0;
  return ProcessStatistics().ReportToCounter(referer.Get(), requestTime, deadline);
}

void SendInstallReport(DWORD deadlineMs) {
  SharedBlock<ReportJob> job = SharedBlock<ReportJob>::Make();
  if (!job) return;
  job->deadline = Deadline(deadlineMs);
  job->requestTime = CurrentUnixTime();
  job->install = true;
  // Made here, on the installer's thread: the workers of overlapping
  // reports only use what it made.
  CStatistics& statistics = ProcessStatistics();
  statistics.GetIeVersion();
  statistics.GetNtVersion();
  RunWithin(job);
}

int32_t UninstallFlag(const WideString& text) { return text.Equals(L"1") ? 1 : 0; }

void SendUninstallReport(int32_t flag, DWORD deadlineMs) {
  SharedBlock<ReportJob> job = SharedBlock<ReportJob>::Make();
  if (!job) return;
  job->deadline = Deadline(deadlineMs);
  job->requestTime = CurrentUnixTime();
  job->uninstallFlag = flag;
  RunWithin(job);
}

}  // namespace tmn
