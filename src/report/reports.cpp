#include "report/reports.h"

#include <utility>

#include "base/module_worker.h"
#include "base/result.h"
#include "base/unique.h"
#include "base/unix_time.h"
#include "beacon/endpoints.h"
#include "beacon/statistic_log.h"
#include "report/collect_client.h"
#include "report/install_identity.h"
#include "report/process_objects.h"
#include "report/system_description.h"

namespace tmn {

namespace {

// Who has the record. Its worker takes it before it begins; the installer's
// thread gives up, at its deadline, a record nobody has taken, which the
// worker then leaves.
constexpr LONG kRecordOpen = 0;
constexpr LONG kRecordTaken = 1;
constexpr LONG kRecordHandedOver = 2;  // filled, in the client's hands
constexpr LONG kRecordDone = 3;
constexpr LONG kRecordGivenUp = 4;

constexpr HRESULT kDeadlinePassed = static_cast<HRESULT>(0x800705B4);  // HRESULT_FROM_WIN32(ERROR_TIMEOUT)

// What the installer's thread and the report's workers share.
struct ReportJob {
  Deadline deadline;  // of the whole call
  int64_t requestTime = 0;
  bool install = false;
  int32_t uninstallFlag = 0;
  CStatistics* statistics = nullptr;
  WideString logFolder;  // empty: the data folder
  volatile LONG beacon = kRequestOpen;  // how far the beacon's request has come
  volatile LONG record = kRecordOpen;
  UniqueHandle versionKnown;  // set once version is written
  WideString version;
  WideString referer;      // written before the beacon is taken
  WideString recordItems;  // "name=value;...", written before the record is handed over
  // What the installer's thread found undone, for the closing lines.
  HRESULT why = S_OK;
  LONG beaconLeft = kRequestDone;
  LONG recordLeft = kRecordDone;
};

// The time the report's workers have: what the closing lines need is kept.
Deadline WorkersDeadline(const ReportJob& job) { return job.deadline.Sooner(kUnfinishedLinesReserveMs); }

const wchar_t* LogFolderOf(const ReportJob& job) { return job.logFolder.IsEmpty() ? nullptr : job.logFolder.Get(); }

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
  CCollectClient client(productVersion, osDescription.Get(), LogFolderOf(job));
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
  ::InterlockedExchange(&job.record, kRecordHandedOver);
  client.Submit(std::move(record));
}

// The beacon's worker: the product version, which the record waits for,
// then the beacon with the offline cache behind it.
void RunBeacon(void* context) {
  SharedBlock<ReportJob> job = SharedBlock<ReportJob>::Adopt(context);
  GetProductVersion(&job->version);  // the install folder may lie on a share
  ::SetEvent(job->versionKnown.get());
  if (!job->referer.Assign(kInstallReportUrl) || !job->referer.Append(L'/') || !job->referer.Append(job->version))
    return;
  if (::InterlockedCompareExchange(&job->beacon, kRequestTaken, kRequestOpen) != kRequestOpen) return;
  job->statistics->ReportToCounter(job->referer.Get(), job->requestTime, job->deadline, &job->beacon);
  // Done, unless it was given up before it was kept.
  if (::InterlockedCompareExchange(&job->beacon, kRequestDone, kRequestKept) != kRequestKept)
    ::InterlockedCompareExchange(&job->beacon, kRequestDone, kRequestTaken);
}

// The record's worker: the system described for the public record, then
// the record, once the product version it names is known.
void RunRecord(void* context) {
  SharedBlock<ReportJob> job = SharedBlock<ReportJob>::Adopt(context);
  WideString osDescription;
  osDescription.Assign(kUndescribedSystem);
  DescribeOperatingSystem(&osDescription);
  if (job->install &&
      ::WaitForSingleObject(job->versionKnown.get(), WorkersDeadline(*job).RemainingMs()) != WAIT_OBJECT_0)
    return;
  if (::InterlockedCompareExchange(&job->record, kRecordTaken, kRecordOpen) != kRecordOpen) return;
  SendRecord(*job, job->install ? &job->version : nullptr, osDescription);
  ::InterlockedExchange(&job->record, kRecordDone);
}

// The closing lines' worker: every part the installer's thread found
// undone, each line waiting for the log's lock only as long as the call has.
void WriteClosingLines(void* context) {
  SharedBlock<ReportJob> job = SharedBlock<ReportJob>::Adopt(context);
  const Deadline until = job->deadline.Sooner(kReturnMarginMs);
  // Its own handle on the log, so that nothing the workers hold is waited for.
  StatisticLogWriter log(LogFolderOf(*job), kClosingLockWaitMs);
  if (job->beaconLeft == kRequestOpen || job->beaconLeft == kRequestTaken) {
    // Without a referer when the product version, which it names, could
    // not be read in time.
    const wchar_t* referer = job->beaconLeft == kRequestTaken ? job->referer.Get() : nullptr;
    log.WriteStatisticLog(kCounterPixelUrl, referer, kStoreFailedTag, job->requestTime, 1, job->why, until);
  }
  if (job->recordLeft == kRecordDone) return;
  WideString items;
  if (job->recordLeft == kRecordHandedOver) {
    items.Assign(job->recordItems);
  } else if (!job->install) {
    AppendItem(items, L"uninstall", job->uninstallFlag);
  }
  log.WriteUnsentRecord(TableOf(*job), items.Get(), job->requestTime, job->why, until);
}

// At the deadline, on the installer's thread, without waiting: gives up
// the parts nobody took (and the request, when it was not kept yet), and
// notes every part that is not done for the closing lines.
bool NoteUnfinished(ReportJob& job, HRESULT why) {
  job.why = why;
  if (job.install) {
    job.beaconLeft = ::InterlockedCompareExchange(&job.beacon, kRequestGivenUp, kRequestOpen);
    if (job.beaconLeft == kRequestTaken)
      job.beaconLeft = ::InterlockedCompareExchange(&job.beacon, kRequestGivenUp, kRequestTaken);
  }
  job.recordLeft = ::InterlockedCompareExchange(&job.record, kRecordGivenUp, kRecordOpen);
  return job.beaconLeft == kRequestOpen || job.beaconLeft == kRequestTaken || job.recordLeft != kRecordDone;
}

// Runs the job on its workers and waits for them until the deadline, less
// the time the lines of what is unfinished need; then, when something is
// unfinished, for those lines until the deadline, less the return.
void RunWithin(SharedBlock<ReportJob>& job) {
  if (!job) return;
  UniqueHandle workers[2];
  HRESULT why = S_OK;
  if (job->install) {
    job->versionKnown.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    why = job->versionKnown ? StartWorkerWith(job, RunBeacon, &workers[0]) : HResultFromLastError();
  }
  if (SUCCEEDED(why)) why = StartWorkerWith(job, RunRecord, &workers[1]);
  bool finished = SUCCEEDED(why);
  for (const UniqueHandle& worker : workers) {
    if (worker && !WaitForModuleWorker(worker, job->deadline.RemainingMs(kUnfinishedLinesReserveMs))) {
      finished = false;
      why = kDeadlinePassed;
    }
  }
  if (finished || !NoteUnfinished(*job, why)) return;
  UniqueHandle closer;
  if (SUCCEEDED(StartWorkerWith(job, WriteClosingLines, &closer)))
    WaitForModuleWorker(closer, job->deadline.RemainingMs(kReturnMarginMs));
}

SharedBlock<ReportJob> MakeJob(DWORD deadlineMs, const wchar_t* logFolder) {
  SharedBlock<ReportJob> job = SharedBlock<ReportJob>::Make();
  if (!job) return job;
  job->deadline = Deadline(deadlineMs);
  job->requestTime = CurrentUnixTime();
  if (!job->logFolder.Assign(logFolder)) job.reset();
  return job;
}

}  // namespace

void SendInstallReport(DWORD deadlineMs, CStatistics* statistics, const wchar_t* logFolder) {
  SharedBlock<ReportJob> job = MakeJob(deadlineMs, logFolder);
  if (!job) return;
  job->install = true;
  // Made here, on the installer's thread, with its version texts: the
  // workers of overlapping reports only use what it made.
  job->statistics = statistics != nullptr ? statistics : &ProcessStatistics();
  RunWithin(job);
}

int32_t UninstallFlag(const WideString& text) { return text.Equals(L"1") ? 1 : 0; }

void SendUninstallReport(int32_t flag, DWORD deadlineMs, const wchar_t* logFolder) {
  SharedBlock<ReportJob> job = MakeJob(deadlineMs, logFolder);
  if (!job) return;
  job->uninstallFlag = flag;
  RunWithin(job);
}

}  // namespace tmn
