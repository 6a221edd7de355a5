; One report; then, when MARK names a file, a line appended to it, which
; shows what had happened before the installer went on.
!include "common.nsh"

Section
  !insertmacro OPEN_LOG
  Push "below"
  tmnsisplug::ReportUninstall "1"
  !ifdef MARK
    IfFileExists "${MARK}" 0 +5
    FileOpen $0 "${MARK}" a
    FileSeek $0 0 END
    FileWrite $0 "installer goes on$\r$\n"
    FileClose $0
  !endif
  !insertmacro DUMP_STACK "after"
  !insertmacro CLOSE_LOG
SectionEnd
