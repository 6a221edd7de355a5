; Deletes TREE with PowerDeleteDir or with NSIS's own RMDir /r, or does
; nothing (METHOD), and writes the milliseconds it took, read from
; GetTickCount around the call, and the process's peak working set in bytes
; after it.
SilentInstall silent
RequestExecutionLevel user
!include "target.nsh"
OutFile "${OUT_FILE}"
Name "tmnsisplug benchmark"

Section
  System::Call "kernel32::GetTickCount() i .r1"
  !if "${METHOD}" == "power"
    tmnsisplug::PowerDeleteDir "${TREE}"
  !else if "${METHOD}" == "rmdir"
    RMDir /r "${TREE}"
  !endif
  System::Call "kernel32::GetTickCount() i .r2"
  IntOp $3 $2 - $1
  ; PROCESS_MEMORY_COUNTERS: cb, PageFaultCount, then eight sizes of the
  ; pointer's width, PeakWorkingSetSize first: 40 bytes, or 72 in 64 bits.
  !if "${TARGET}" == "amd64-unicode"
    !define COUNTERS_BYTES 72
  !else
    !define COUNTERS_BYTES 40
  !endif
  System::Call "*(i ${COUNTERS_BYTES}, i, p, p, p, p, p, p, p, p) p .r4"
  System::Call "psapi::GetProcessMemoryInfo(p -1, p r4, i ${COUNTERS_BYTES})"
  System::Call "*$4(i, i, p .r5)"
  System::Free $4
  FileOpen $0 "$EXEDIR\elapsed.txt" w
  FileWrite $0 "$3 $5"
  FileClose $0
SectionEnd
