// The time a report may take, and every wait within it. A report returns
// within kReportDeadlineMs of being called whatever the network, the
// product's libraries, the locks and the disks do: everything that may
// block runs on workers, and the installer's thread only waits for them.
//
// The call's time, from its start:
//   until kStoreReserveMs before the end: the beacon's exchange;
//   then the store of an undelivered request: the cache's lock, the insert
//     and its line, done before the installer's thread looks at what is
//     unfinished;
//   kUnfinishedLinesReserveMs before the end: the installer's thread stops
//     waiting for the report's workers, gives up what they had not begun,
//     and a worker of its own writes the lines of what went undone;
//   kReturnMarginMs before the end: the installer's thread stops waiting
//     for that worker too, and returns.
#pragma once

#include <windows.h>

namespace tmn {

constexpr DWORD kReportDeadlineMs = 12000;

// What the installer's thread needs after its last wait: the return, and
// the pinning of a module whose worker goes on.
constexpr DWORD kReturnMarginMs = 200;

// How long a line of a report's worker waits for the statistic log's lock
// (any user may hold it) before it is written without the lock.
constexpr DWORD kLogLockWaitMs = 500;

// The lines of what went undone, written once the workers' time is up: the
// log may be due to be moved aside (one wait for its lock), then the line
// of the request and the line of the record (one wait each).
constexpr DWORD kClosingLockWaits = 3;
constexpr DWORD kClosingLockWaitMs = 250;
// Starting their worker, opening the log, formatting and writing.
constexpr DWORD kClosingWorkMs = 250;
constexpr DWORD kUnfinishedLinesReserveMs = 1200;
static_assert(kUnfinishedLinesReserveMs >= kClosingLockWaits * kClosingLockWaitMs + kClosingWorkMs + kReturnMarginMs,
              "the reserve covers every wait of the closing lines, their work and the return");

// The store of an undelivered request: the wait for the cache's lock (a
// process may hang while it holds it), the insert of a database that
// answers, and the store's own line.
constexpr DWORD kStoreLockWaitMs = 1000;
constexpr DWORD kStoreInsertMs = 300;
constexpr DWORD kStoreReserveMs = 3000;
static_assert(kStoreReserveMs >= kUnfinishedLinesReserveMs + kStoreLockWaitMs + kStoreInsertMs + kLogLockWaitMs,
              "the store ends before the installer's thread looks at what is unfinished");
static_assert(kStoreReserveMs < kReportDeadlineMs, "the exchange has time of its own");

// WinINet's own time-outs of the exchange. They do not bound it (a
// connection attempt nobody answers, headers that drip in): the wait for
// its worker does.
constexpr DWORD kConnectTimeoutMs = 10000;
constexpr DWORD kTransferTimeoutMs = 10000;  // each send and each read, set on the request

}  // namespace tmn
