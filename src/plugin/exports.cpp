// The plug-in's entry points. Each one has its frame stored by the macro,
// takes its argument and hands over to its subsystem; nothing is returned
// to the host. The module is built without exceptions, so none can unwind
// into the installer; failures inside the workers end as their results.
#include <windows.h>
#include <stdint.h>

#include "base/number.h"
#include "plugin/frame.h"
#include "process/process_control.h"
#include "removal/download_cleanup.h"
#include "removal/force_delete.h"
#include "report/reports.h"

using namespace tmn;

PLUGIN_EXPORT(CheckCloseMain, AskMainWindowsToClose)
static void AskMainWindowsToClose() { RequestMainWindowsClose(); }

PLUGIN_EXPORT(KillProcByName, KillPoppedProcessName)
static void KillPoppedProcessName() {
  WideString name;
  // A name cut to fit could be another program's whole name: nothing ends.
  if (PopWideArgument(&name, LongText::kRefuse)) KillProcessesByName(name);
}

// The id is read in the host's own characters, never converted; the
// ticket's address goes to $R0 as signed decimal text of the pointer's
// full width, which the System plug-in reads back in either bitness.
PLUGIN_EXPORT(KillProcByPid, IssueTicketForPoppedId)
static void IssueTicketForPoppedId() {
  ArgumentBuffer processId;
  PopArgument(processId);
  const PidTicket* ticket = IssuePidTicket(ParseDecimalInt32(processId));
  if (ticket == nullptr) return;
  HostChar address[21];
  FormatInt64(static_cast<int64_t>(reinterpret_cast<intptr_t>(ticket)), address);
  WriteVariable(kVarR0, address);
}

PLUGIN_EXPORT(WindowsPlatformArchitecture, PushArchitecture)
static void PushArchitecture() { PushAsciiResult(ArchitectureText(ReadArchitectureFacts())); }

PLUGIN_EXPORT(PowerDeleteDir, DeletePoppedTree)
static void DeletePoppedTree() {
  WideString path;
  // A path cut to fit could name another tree: nothing is deleted for it.
  if (PopWideArgument(&path, LongText::kRefuse)) DeleteDirectoryTree(path);
}

PLUGIN_EXPORT(PromptDeleteHotfixFiles, CleanHotfixesAsAnswered)
static void CleanHotfixesAsAnswered() {
  WideString answer;
  if (PopWideArgument(&answer)) CleanHotfixDownloads(answer);
}

PLUGIN_EXPORT(PromptDeleteSoftDownloadedFiles, CleanSoftAsAnswered)
static void CleanSoftAsAnswered() {
  WideString answer;
  if (PopWideArgument(&answer)) CleanSoftDownloads(answer);
}

PLUGIN_EXPORT(PromptDeleteDriverDownloadedFiles, CleanDriversAsAnswered)
static void CleanDriversAsAnswered() {
  WideString answer;
  if (PopWideArgument(&answer)) CleanDriverDownloads(answer);
}

// Pops nothing: every cleanup runs with the answer yes.
PLUGIN_EXPORT(PromptDelHotfixFiles, CleanAllWithYes)
static void CleanAllWithYes() { CleanAllDownloads(); }

// Pops nothing: the beacon, then the install record.
PLUGIN_EXPORT(ReportInstall, ReportThisInstall)
static void ReportThisInstall() { SendInstallReport(); }

PLUGIN_EXPORT(ReportUninstall, ReportThisUninstall)
static void ReportThisUninstall() {
  WideString text;
  if (PopWideArgument(&text)) SendUninstallReport(UninstallFlag(text));
}
