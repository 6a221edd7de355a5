; Ends the processes named by NAME.
!include "common.nsh"

Section
  !insertmacro OPEN_LOG
  Push "below"
  tmnsisplug::KillProcByName "${NAME}"
  !insertmacro DUMP_STACK "KillProcByName"
  !insertmacro CLOSE_LOG
SectionEnd
