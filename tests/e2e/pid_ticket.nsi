; Issues tickets and reads each back through the System plug-in; FOREIGN
; is digits followed by a text outside ASCII.
!include "common.nsh"

!macro TICKET text
  tmnsisplug::KillProcByPid "${text}"
  System::Call "*$R0(i .r1, i .r2, i .r3)"
  !insertmacro LOG "${text}|$R0|$1|$2|$3"
!macroend

Section
  !insertmacro OPEN_LOG
  Push "below"
  !insertmacro TICKET "1234"
  !insertmacro TICKET "  42abc"
  !insertmacro TICKET "abc"
  !insertmacro TICKET "-5"
  !insertmacro TICKET "99999999999"
  !insertmacro TICKET "${FOREIGN}"
  !insertmacro DUMP_STACK "after"
  !insertmacro CLOSE_LOG
SectionEnd
