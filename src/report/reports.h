// The reports the installer script asks for: the install report once the
// product is installed, the uninstall report while it is removed.
//
// Each report returns within kReportDeadlineMs of being called, whatever
// the network, the product's libraries and the disks do. Everything in it
// that may block (reading the product's files, which may lie on a share
// that does not answer; the beacon; the offline cache; the info-collection
// library) runs on a worker that holds its own reference to this module
// (base/module_worker.h), while the installer's thread waits for it until
// the deadline, less what it keeps to write down what the worker had not
// finished. The deadline is counted once, from the call, for every wait.
//
// Nothing the report carries is lost for the deadline without a word: the
// beacon's request is kept beside the offline cache as soon as its referer
// is known, and when the deadline comes first, the statistic log says what
// went undone and why (HRESULT_FROM_WIN32(ERROR_TIMEOUT)): a request whose
// product version could not be read in time ("ERROR.SaveStatistic", without
// a referer), a record the component had not taken ("ERROR.SendRecord").
// A worker that finds its part given up leaves it.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "base/deadline.h"
#include "base/wide_string.h"

namespace tmn {

constexpr DWORD kReportDeadlineMs = 12000;
// What the installer's thread keeps of the deadline for its log lines.
constexpr DWORD kUnfinishedLinesReserveMs = 1200;

// Sends the counter's pixel request with the install-report address and
// the product version as its referer, made at requestTime, through the
// process's beacon client. Nonzero when delivered; an undelivered request
// is stored and logged.
int32_t SendInstallBeacon(const WideString& productVersion, int64_t requestTime, const Deadline& deadline);

// The install beacon, to its end; then the install record ("preid",
// "update", "cover"), after the install's public record, to the product's
// info-collection library; no record without the library. Returns within
// deadlineMs.
void SendInstallReport(DWORD deadlineMs = kReportDeadlineMs);

// The uninstall flag: 1 for the text "1" alone, 0 for any other text.
int32_t UninstallFlag(const WideString& text);

// Hands the uninstall record, after the install's public record, to the
// product's info-collection library; sends nothing without the library.
// Returns within deadlineMs.
void SendUninstallReport(int32_t flag, DWORD deadlineMs = kReportDeadlineMs);

}  // namespace tmn
