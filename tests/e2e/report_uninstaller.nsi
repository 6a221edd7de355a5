; An installer that writes its uninstaller to INSTALL_DIR; the uninstaller
; reports and writes its result (and the path it runs from) beside itself.
!include "common.nsh"
SilentUnInstall silent

Section
  !insertmacro OPEN_LOG
  WriteUninstaller "${INSTALL_DIR}\uninst.exe"
  !insertmacro LOG "written"
  !insertmacro CLOSE_LOG
SectionEnd

Section "Uninstall"
  FileOpen $9 "$INSTDIR\uninstall-result.txt" w
  Push "below"
  tmnsisplug::ReportUninstall "1"
  !insertmacro LOG "exepath:$EXEPATH"
  !insertmacro DUMP_STACK "after"
  !insertmacro CLOSE_LOG
SectionEnd
