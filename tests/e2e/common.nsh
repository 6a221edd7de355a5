; Shared by the end-to-end installers: a silent ANSI installer that loads
; the plug-in from the build folder and writes what it saw to result.txt
; beside itself.
Unicode false
SilentInstall silent
RequestExecutionLevel user
!addplugindir /x86-ansi "${PLUGIN_DIR}"
OutFile "${OUT_FILE}"
Name "tmnsisplug e2e"

!macro OPEN_LOG
  FileOpen $9 "$EXEDIR\result.txt" w
!macroend

!macro LOG text
  FileWrite $9 "${text}$\r$\n"
!macroend

!macro CLOSE_LOG
  FileClose $9
!macroend

; Pops the whole stack and logs it as "label:[top][next]...[bottom]".
!macro DUMP_STACK label
  StrCpy $8 "${label}:"
  ClearErrors
  Pop $7
  IfErrors +3
  StrCpy $8 "$8[$7]"
  Goto -4
  !insertmacro LOG "$8"
!macroend
