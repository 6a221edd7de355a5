// The plug-in's entry points. Each one sets up the frame, takes its
// argument and hands over to its subsystem; nothing is returned to the host.
// The module is built without exceptions, so none can unwind into the
// installer; failures inside the workers end as their results.
#include <windows.h>

#include "plugin/frame.h"
#include "process/process_control.h"
#include "removal/force_delete.h"

#define PLUGIN_ENTRY(name)                                                          \
  extern "C" void __cdecl name(HWND /*parent*/, int string_size, char* variables, \
                               stack_t** stacktop, void* /*extra*/)

using namespace tmn;

PLUGIN_ENTRY(CheckCloseMain) {
  StoreContext(string_size, variables, stacktop);
  RequestMainWindowsClose();
}

PLUGIN_ENTRY(KillProcByName) {
  WideString name;
  if (EnterWithWideArgument(string_size, variables, stacktop, &name)) KillProcessesByName(name);
}

PLUGIN_ENTRY(KillProcByPid) {
  StoreContext(string_size, variables, stacktop);
  ArgumentBuffer processId;
  PopArgument(processId);
  char address[12];
  if (IssuePidTicket(processId, address)) WriteVariable(kVariableR0, address);
}

PLUGIN_ENTRY(WindowsPlatformArchitecture) {
  StoreContext(string_size, variables, stacktop);
  PushResult(ArchitectureText(ReadArchitectureFacts()));
}

PLUGIN_ENTRY(PowerDeleteDir) {
  StoreContext(string_size, variables, stacktop);
  ArgumentBuffer text;
  const bool whole = PopArgument(text);
  const bool preVista = IsPreVistaWindows();
  WideString path;
  // A path cut to fit could name another tree: nothing is deleted for it.
  if (whole && SUCCEEDED(AnsiToWide(text, &path))) ForceDeleteTree(path, preVista);
}
