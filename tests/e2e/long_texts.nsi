; Texts of 199, 200 and 1023 characters (the longest an installer holds),
; defined by the test.
!include "common.nsh"

Section
  !insertmacro OPEN_LOG
  Push "below"
  tmnsisplug::KillProcByPid "${PID199}"
  !insertmacro LOG "pid199:$R0"
  System::Call "*$R0(i .r1, i .r2, i .r3)"
  !insertmacro LOG "id199:$3"
  tmnsisplug::KillProcByPid "${PID200}"
  System::Call "*$R0(i .r1, i .r2, i .r3)"
  !insertmacro LOG "id200:$3"
  tmnsisplug::KillProcByPid "${PID1023}"
  System::Call "*$R0(i .r1, i .r2, i .r3)"
  !insertmacro LOG "id1023:$3"
  tmnsisplug::KillProcByName "${NAME199}"
  tmnsisplug::KillProcByName "${NAME200}"
  tmnsisplug::KillProcByName "${NAME1023}"
  !insertmacro DUMP_STACK "after"
  !insertmacro CLOSE_LOG
SectionEnd
