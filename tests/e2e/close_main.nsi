; Asks the product's main windows to close.
!include "common.nsh"

Section
  !insertmacro OPEN_LOG
  Push "below"
  tmnsisplug::CheckCloseMain
  !insertmacro DUMP_STACK "CheckCloseMain"
  !insertmacro CLOSE_LOG
SectionEnd
