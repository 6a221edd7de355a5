// The statistic log: one UTF-16 text file per host executable in the data
// folder, "<executable>_statistic.log", that says which undelivered
// requests were stored in the offline cache and which stores failed.
//
// Several installers may write the same log at once: each line is written
// at the end under a lock that every writer of the log takes, so that every
// line lands whole at the end and the FF FE mark comes before the first
// line. A line that does not fit (a full disk) is taken back whole, so that
// the next one does not start in the middle of it. A log too large to keep
// is moved aside to "<log>.old" under the same lock, by the one writer
// that still finds it under its name, so that two writers at once never
// move a new log over the large one; the move replaces whatever had that
// name, the log moved aside by an earlier rotation included.
//
// The log lies in a folder every user may write, so any of them may hold
// its lock: a writer waits for it only so long (kLogLockWaitMs, or less
// where the caller has less time), then writes its line without it, at the
// end it finds. A line written so may land beside another writer's at the
// same instant; one that the file refuses (a program holds the bytes it
// would take) is dropped. Nothing waits for the log without end. What lies
// beside the log never silences it: a log that cannot be moved aside is
// written on where it is.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "base/array.h"
#include "base/deadline.h"
#include "base/unique.h"
#include "base/wide_string.h"
#include "beacon/time_budget.h"

namespace tmn {

constexpr wchar_t kStoredTag[] = L"INFO.SaveStatistic";
constexpr wchar_t kStoreFailedTag[] = L"ERROR.SaveStatistic";
// A product library found where it is looked for, but passed over as
// missing: built for another machine than this process's, or lying where
// others than the system's own writers may change it.
constexpr wchar_t kLibrarySkippedTag[] = L"ERROR.LoadLibrary";
// A record for the info-collection library that the component had not
// taken when the report's call returned.
constexpr wchar_t kRecordUnsentTag[] = L"ERROR.SendRecord";
// Files beside the cache named as kept requests that hold none a store
// would fold in: moved aside, never stored.
constexpr wchar_t kKeptFilesRefusedTag[] = L"ERROR.KeptRequest";

// The write of a log's bytes. Tests put another in to cut a write short,
// as a full disk does, which Wine does not do on demand.
using LogWriteCall = BOOL(WINAPI*)(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written, LPOVERLAPPED place);
extern LogWriteCall g_logWrite;

// A log larger than this when it is opened is moved aside to "<log>.old".
constexpr ULONGLONG kLogRotationBytes = 5242880;

// The record of one line: "[tag]", then " url:..." when there is a URL,
// ", refer_url:...", ", time:..." and ", count:..." when set and nonzero,
// and ", err:0x..." (lower-case hexadecimal) when the error is negative.
bool FormatStatisticRecord(const wchar_t* url, const wchar_t* referer, const wchar_t* tag, int64_t time,
                           int32_t count, HRESULT error, WideString* record);

// "[ERROR.LoadLibrary] file:<path>, err:0x..." with why it was passed over.
bool FormatSkippedLibraryRecord(const wchar_t* path, HRESULT why, WideString* record);

// "[ERROR.KeptRequest] files:<path>|<path>..., count:<n>, err:0x..." ("|"
// is in no file name).
bool FormatRefusedKeptFiles(const Array<WideString>& paths, HRESULT why, WideString* record);

// "[ERROR.SendRecord] table:<table>, items:<items>, time:<time>, err:0x..."
// (the items part only when there are items, the error only when negative).
bool FormatUnsentRecord(const wchar_t* table, const wchar_t* items, int64_t time, HRESULT error,
                        WideString* record);

// One line at a UTC time: "[YYYY-MM-DD hh:mm:ss:mmm] record" and CR LF.
bool FormatLogLine(const SYSTEMTIME& utc, const wchar_t* record, WideString* line);

// The open log file, used by one thread at a time (StatisticLogWriter
// lets its threads in one by one). A log that could not be opened stays
// closed, and every line given to it is dropped.
class StatisticLog {
 public:
  StatisticLog() = default;
  StatisticLog(const StatisticLog&) = delete;
  StatisticLog& operator=(const StatisticLog&) = delete;

  // Opens the file at path for appending, making its folder when missing.
  // A file already larger than the rotation size is moved aside first,
  // under the log's lock, waited for at most lockWaitMs; without the lock,
  // or when the move fails, it is written on unmoved. A log made by another
  // process meanwhile is opened too. Call once.
  void OpenStatisticLog(const wchar_t* path, DWORD lockWaitMs = kLogLockWaitMs);
  bool IsOpen() const { return file_.valid(); }

  // Writes the record as one line stamped with the current UTC time,
  // after FF FE when the file is empty, waiting at most lockWaitMs for the
  // log's lock; false when the log is closed or the write failed.
  bool AppendLogLine(const wchar_t* record, DWORD lockWaitMs = kLogLockWaitMs);

 private:
  UniqueFile file_;
};

// The log of a statistics client: made on its first line, in the data
// folder, and kept for the rest of the process, open or not. Threads of one
// process may share a writer: it writes one line at a time.
class StatisticLogWriter {
 public:
  // A writer whose log lives in folder (null: the data folder), waiting at
  // most lockWaitMs for the log's lock for each line.
  explicit StatisticLogWriter(const wchar_t* folder = nullptr, DWORD lockWaitMs = kLogLockWaitMs);
  StatisticLogWriter(const StatisticLogWriter&) = delete;
  StatisticLogWriter& operator=(const StatisticLogWriter&) = delete;

  // Logs one line; nothing without a tag. Url and referer may be null.
  // When the folder or the executable's name cannot be had, the line is
  // dropped and the next one tries again. The waits for the log's lock end
  // by until at the latest.
  void WriteStatisticLog(const wchar_t* url, const wchar_t* referer, const wchar_t* tag, int64_t time,
                         int32_t count, HRESULT error, const Deadline& until = Deadline::Unbounded());
  // Logs that the library at path was passed over as missing, and why.
  void WriteSkippedLibrary(const wchar_t* path, HRESULT why);
  // Logs, in one line, the files refused as kept requests, and why.
  void WriteRefusedKeptFiles(const Array<WideString>& paths, HRESULT why);
  // Logs a record the component had not taken when the call returned.
  void WriteUnsentRecord(const wchar_t* table, const wchar_t* items, int64_t time, HRESULT error,
                         const Deadline& until = Deadline::Unbounded());

 private:
  void AppendRecord(const WideString& record, const Deadline& until);
  // The log of the host executable in folder.
  static HRESULT LogPath(const WideString& folder, WideString* path);

  CriticalSection lock_;  // the making of the log and each line
  WideString folder_;  // empty: the data folder
  DWORD lockWaitMs_;
  bool made_ = false;
  StatisticLog logFile_;
};

}  // namespace tmn
