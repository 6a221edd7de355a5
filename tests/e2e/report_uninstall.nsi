; ReportUninstall with the text "1" and with texts that are not "1"; each
; call loads and frees the plug-in anew.
!include "common.nsh"

Section
  !insertmacro OPEN_LOG
  Push "below"
  tmnsisplug::ReportUninstall "1"
  tmnsisplug::ReportUninstall "01"
  tmnsisplug::ReportUninstall " 1"
  tmnsisplug::ReportUninstall ""
  !insertmacro DUMP_STACK "after"
  !insertmacro CLOSE_LOG
SectionEnd
