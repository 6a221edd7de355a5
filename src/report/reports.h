// The reports the installer script asks for: the install report once the
// product is installed, the uninstall report while it is removed.
//
// Each report returns within its deadline (kReportDeadlineMs, counted once
// from the call; beacon/time_budget.h) whatever the network, the product's
// libraries, the locks and the disks do. Everything in it that may block
// runs on workers that hold their own reference to this module
// (base/module_worker.h): one works out the product version (the install
// folder may lie on a share that does not answer) and sends the beacon, with
// the offline cache behind it; another hands the record to the product's
// info-collection library, so that neither the network nor the cache can
// cost the record. The installer's thread only starts them and waits.
//
// Nothing the report carries is lost for the deadline without a word: the
// beacon's request is kept beside the offline cache before it is sent, and
// when the deadline comes first, a worker of its own writes in the
// statistic log what went undone and why (HRESULT_FROM_WIN32(ERROR_TIMEOUT)):
// a request neither delivered nor kept ("ERROR.SaveStatistic"; without a
// referer when the product version could not be read in time), a record the
// component had not taken ("ERROR.SendRecord"). A worker that finds its
// part given up leaves it. The installer's thread waits for that worker
// too only until the deadline: whatever it has not written by then, it
// writes afterwards, should the installer still run.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "base/wide_string.h"
#include "beacon/statistics.h"
#include "beacon/time_budget.h"

namespace tmn {

// The install beacon: the counter's pixel request with the install-report
// address and the product version as its referer, through the process's
// beacon client (or statistics), then the install record ("preid",
// "update", "cover"), after the install's public record, to the product's
// info-collection library; no record without the library. Returns within
// deadlineMs. The lines of what went undone go to the log in logFolder
// (null: the data folder).
void SendInstallReport(DWORD deadlineMs = kReportDeadlineMs, CStatistics* statistics = nullptr,
                       const wchar_t* logFolder = nullptr);

// The uninstall flag: 1 for the text "1" alone, 0 for any other text.
int32_t UninstallFlag(const WideString& text);

// Hands the uninstall record, after the install's public record, to the
// product's info-collection library; sends nothing without the library.
// Returns within deadlineMs.
void SendUninstallReport(int32_t flag, DWORD deadlineMs = kReportDeadlineMs, const wchar_t* logFolder = nullptr);

}  // namespace tmn
