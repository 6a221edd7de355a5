// The plug-in's entry points. Each one has its frame stored by the macro,
// takes its argument and hands over to its subsystem; nothing is returned
// to the host. The module is built without exceptions, so none can unwind
// into the installer; failures inside the workers end as their results.
#include <windows.h>

#include "plugin/frame.h"
#include "process/process_control.h"
#include "removal/download_cleanup.h"
#include "removal/force_delete.h"
#include "report/reports.h"

using namespace tmn;

PLUGIN_FUNCTION(CheckCloseMain) { RequestMainWindowsClose(); }

PLUGIN_FUNCTION(KillProcByName) {
  WideString name;
  // A name cut to fit could be another program's whole name: nothing ends.
  if (PopWideArgument(&name, LongText::kRefuse)) KillProcessesByName(name);
}

PLUGIN_FUNCTION(KillProcByPid) {
  ArgumentBuffer processId;
  PopArgument(processId);
  char address[12];
  if (IssuePidTicket(processId, address)) WriteVariable(kVariableR0, address);
}

PLUGIN_FUNCTION(WindowsPlatformArchitecture) { PushResult(ArchitectureText(ReadArchitectureFacts())); }

PLUGIN_FUNCTION(PowerDeleteDir) {
  WideString path;
  // A path cut to fit could name another tree: nothing is deleted for it.
  if (PopWideArgument(&path, LongText::kRefuse)) DeleteDirectoryTree(path);
}

PLUGIN_FUNCTION(PromptDeleteHotfixFiles) {
  WideString answer;
  if (PopWideArgument(&answer)) CleanHotfixDownloads(answer);
}

PLUGIN_FUNCTION(PromptDeleteSoftDownloadedFiles) {
  WideString answer;
  if (PopWideArgument(&answer)) CleanSoftDownloads(answer);
}

PLUGIN_FUNCTION(PromptDeleteDriverDownloadedFiles) {
  WideString answer;
  if (PopWideArgument(&answer)) CleanDriverDownloads(answer);
}

// Pops nothing: every cleanup runs with the answer yes.
PLUGIN_FUNCTION(PromptDelHotfixFiles) { CleanAllDownloads(); }

// Pops nothing: the beacon, then the install record.
PLUGIN_FUNCTION(ReportInstall) { SendInstallReport(); }

PLUGIN_FUNCTION(ReportUninstall) {
  WideString text;
  if (PopWideArgument(&text)) SendUninstallReport(UninstallFlag(text));
}
