; Calls ReportInstall when CALL is defined, else nothing in its place, and
; writes the milliseconds around that place, read from GetTickCount.
SilentInstall silent
RequestExecutionLevel user
!include "target.nsh"
OutFile "${OUT_FILE}"
Name "tmnsisplug benchmark"

Section
  System::Call "kernel32::GetTickCount() i .r1"
  !ifdef CALL
    tmnsisplug::ReportInstall
  !endif
  System::Call "kernel32::GetTickCount() i .r2"
  IntOp $3 $2 - $1
  FileOpen $0 "$EXEDIR\elapsed.txt" w
  FileWrite $0 "$3"
  FileClose $0
SectionEnd
