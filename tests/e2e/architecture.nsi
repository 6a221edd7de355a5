; Tells 64-bit Windows from 32-bit from this 32-bit installer.
!include "common.nsh"

Section
  !insertmacro OPEN_LOG
  Push "below"
  tmnsisplug::WindowsPlatformArchitecture
  !insertmacro DUMP_STACK "WindowsPlatformArchitecture"
  !insertmacro CLOSE_LOG
SectionEnd
