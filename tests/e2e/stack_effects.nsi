; What each export leaves on the stack: a text pushed before the call and the
; text below it (ABOVE and BELOW) stay, under the "64" or "32" that only the
; architecture test pushes.
!include "common.nsh"

Section
  !insertmacro OPEN_LOG

  Push "${BELOW}"
  Push "${ABOVE}"
  tmnsisplug::CheckCloseMain
  !insertmacro DUMP_STACK "CheckCloseMain"

  Push "${BELOW}"
  Push "${ABOVE}"
  tmnsisplug::KillProcByName "${ABOVE}.exe"
  !insertmacro DUMP_STACK "KillProcByName"

  Push "${BELOW}"
  Push "${ABOVE}"
  StrCpy $R0 "untouched"
  StrCpy $R1 "untouched"
  StrCpy $0 "untouched"
  tmnsisplug::KillProcByPid "1234"
  !insertmacro DUMP_STACK "KillProcByPid"
  !insertmacro LOG "R0:$R0"
  !insertmacro LOG "R1:$R1"
  !insertmacro LOG "0:$0"

  Push "${BELOW}"
  Push "${ABOVE}"
  tmnsisplug::PowerDeleteDir "$EXEDIR\no-such-folder"
  !insertmacro DUMP_STACK "PowerDeleteDir"

  Push "${BELOW}"
  Push "${ABOVE}"
  tmnsisplug::WindowsPlatformArchitecture
  !insertmacro DUMP_STACK "WindowsPlatformArchitecture"

  !insertmacro CLOSE_LOG
SectionEnd
