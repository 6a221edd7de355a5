; Shared by the end-to-end installers: a silent installer of the flavour
; the harness asks for, loading the plug-in from the build folder and
; writing what it saw to result.txt beside itself. The harness's defines
; holding texts outside ASCII come first; a Unicode installer is what makensis
; builds by default, and a 64-bit one (the amd64 flavour) is Unicode too.
!include "${DEFINES}"
!if "${FLAVOUR}" == "ansi"
  Unicode false
!endif
!if "${FLAVOUR}" == "amd64"
  Target amd64-unicode
!endif
SilentInstall silent
RequestExecutionLevel user
!addplugindir /${TARGET} "${PLUGIN_DIR}"
OutFile "${OUT_FILE}"
Name "tmnsisplug e2e"

!macro OPEN_LOG
  FileOpen $9 "$EXEDIR\result.txt" w
!macroend

; A Unicode installer writes UTF-16LE, which keeps every text, after its mark.
!macro LOG text
  !if "${FLAVOUR}" == "ansi"
    FileWrite $9 "${text}$\r$\n"
  !else
    FileWriteUTF16LE /BOM $9 "${text}$\r$\n"
  !endif
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
