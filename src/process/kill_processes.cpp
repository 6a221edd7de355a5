#include <windows.h>
#include <tlhelp32.h>

#include "base/ascii.h"
#include "base/unique.h"
#include "process/process_control.h"

namespace tmn {

int32_t KillProcessesByName(const WideString& name) {
  if (name.IsEmpty()) return 0;
  UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);  // 556
  int32_t opened = 0;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    // The name is bounded by its record even if the system left no NUL.
    entry.szExeFile[MAX_PATH - 1] = L'\0';
    if (!EqualsIgnoringAsciiCase(entry.szExeFile, name.Get())) continue;
    UniqueHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
    if (!process) continue;
    ++opened;
    ::TerminateProcess(process.get(), 0);
  }
  return opened;
}

PidTicket* IssuePidTicket(int32_t processId) {
  auto* ticket = static_cast<PidTicket*>(::GlobalAlloc(GMEM_FIXED, sizeof(PidTicket)));
  if (ticket == nullptr) return nullptr;
  ticket->tickCount = ::GetTickCount();
  ticket->processId = processId;
  ticket->mixedId = static_cast<uint32_t>(processId) ^ ticket->tickCount;
  return ticket;
}

}  // namespace tmn
