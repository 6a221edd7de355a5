; Two reports from one loaded plug-in, with "OEMID" changed between them.
!include "common.nsh"

Section
  !insertmacro OPEN_LOG
  ; The product is 32-bit: its keys, and the browser it names, are in the
  ; 32-bit view, also for a 64-bit installer.
  SetRegView 32
  Push "below"
  tmnsisplug::ReportUninstall /NOUNLOAD "1"
  WriteRegStr HKLM "SOFTWARE\Vardo\Coop" "OEMID" "77"
  tmnsisplug::ReportUninstall /NOUNLOAD "1"
  !insertmacro DUMP_STACK "after"
  !insertmacro CLOSE_LOG
SectionEnd
