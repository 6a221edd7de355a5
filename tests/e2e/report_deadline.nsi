; One install report, with the milliseconds it held the installer written
; as "held:N" after the stack.
!include "common.nsh"

Section
  !insertmacro OPEN_LOG
  Push "below"
  System::Call "kernel32::GetTickCount() i .r1"
  tmnsisplug::ReportInstall
  System::Call "kernel32::GetTickCount() i .r2"
  IntOp $3 $2 - $1
  !insertmacro DUMP_STACK "after"
  !insertmacro LOG "held:$3"
  !insertmacro CLOSE_LOG
SectionEnd
