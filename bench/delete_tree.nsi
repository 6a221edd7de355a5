; Deletes TREE with PowerDeleteDir or with NSIS's own RMDir /r, or does
; nothing (METHOD), and writes the milliseconds it took, read from
; GetTickCount around the call, and the process's peak working set in bytes
; after it.
Unicode false
SilentInstall silent
RequestExecutionLevel user
!addplugindir /x86-ansi "${PLUGIN_DIR}"
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
  ; PROCESS_MEMORY_COUNTERS: cb, PageFaultCount, PeakWorkingSetSize, ...
  System::Call "*(i 40, i, i, i, i, i, i, i, i, i) i .r4"
  System::Call "psapi::GetProcessMemoryInfo(i -1, i r4, i 40)"
  System::Call "*$4(i, i, i .r5)"
  System::Free $4
  FileOpen $0 "$EXEDIR\elapsed.txt" w
  FileWrite $0 "$3 $5"
  FileClose $0
SectionEnd
