// Ending processes by executable name, the process-id ticket, the close
// request to the product's main windows and the platform architecture.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "base/wide_string.h"

namespace tmn {

// Ends every process whose executable file name equals name, ASCII letters
// compared without case. Returns how many were opened for termination.
int32_t KillProcessesByName(const WideString& name);

// The 12-byte block handed to the script. Never freed by the module.
struct PidTicket {
  uint32_t mixedId;    // processId XOR tickCount
  uint32_t tickCount;  // GetTickCount at issue
  int32_t processId;
};
static_assert(sizeof(PidTicket) == 12, "the script reads three 32-bit words");

// Issues a ticket for the process id; null when no ticket could be
// allocated. The script is handed the ticket's address.
PidTicket* IssuePidTicket(int32_t processId);

// Window classes of the product's main windows, in the order asked.
extern const wchar_t* const kMainWindowClasses[2];
// SC_CLOSE with 2 in the low bits: the default window procedure masks it
// off and closes the window.
constexpr WPARAM kCloseRequest = 0xF062;

// Posts the close request to the first top-level window of each class.
void RequestMainWindowsClose();

// "64" or "32", from what the version and native system information say.
struct ArchitectureFacts {
  bool versionRead;
  DWORD platformId;
  bool hasNativeSystemInfo;
  WORD processorArchitecture;
};
const wchar_t* ArchitectureText(const ArchitectureFacts& facts);
ArchitectureFacts ReadArchitectureFacts();

}  // namespace tmn
