; Deletes TREE with PowerDeleteDir or with NSIS's own RMDir /r (METHOD) and
; writes the milliseconds it took, read from GetTickCount around the call.
Unicode false
SilentInstall silent
RequestExecutionLevel user
!addplugindir /x86-ansi "${PLUGIN_DIR}"
OutFile "${OUT_FILE}"
Name "tmnsisplug benchmark"

Section
  System::Call "kernel32::GetTickCount() i .r1"
  !if "${METHOD}" == "power"
    tmnsisplug::PowerDeleteDir "${TREE}"
  !else
    RMDir /r "${TREE}"
  !endif
  System::Call "kernel32::GetTickCount() i .r2"
  IntOp $3 $2 - $1
  FileOpen $0 "$EXEDIR\elapsed.txt" w
  FileWrite $0 "$3"
  FileClose $0
SectionEnd
