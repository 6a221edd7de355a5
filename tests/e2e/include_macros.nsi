; The include file's macros in a Unicode installer (makensis's default, or a
; 64-bit one with the amd64 flavour): each
; leaves the stack as it found it and changes no variable but its output.
; Every line of result.txt: label|stack below|$0..$9 $R0..$R9|error flag.
; VICTIM and TREE come from the file NAMES, written by the test. With
; REFUSING (a plug-in Windows refuses to load) every macro is called.
!if "${FLAVOUR}" == "amd64"
  Target amd64-unicode
!endif
SilentInstall silent
RequestExecutionLevel user
!addplugindir /${TARGET} "${PLUGIN_DIR}"
!addincludedir "${INCLUDE_DIR}"
!include "tmnsisplug.nsh"
!include "${NAMES}"
OutFile "${OUT_FILE}"
Name "tmnsisplug macros"
Var log
Var item
Var stack
Var errors

!macro CALL label call
  StrCpy $0 "0"
  StrCpy $1 "1"
  StrCpy $2 "2"
  StrCpy $3 "3"
  StrCpy $4 "4"
  StrCpy $5 "5"
  StrCpy $6 "6"
  StrCpy $7 "7"
  StrCpy $8 "8"
  StrCpy $9 "9"
  StrCpy $R0 "R0"
  StrCpy $R1 "R1"
  StrCpy $R2 "R2"
  StrCpy $R3 "R3"
  StrCpy $R4 "R4"
  StrCpy $R5 "R5"
  StrCpy $R6 "R6"
  StrCpy $R7 "R7"
  StrCpy $R8 "R8"
  StrCpy $R9 "R9"
  Push "below 2"
  Push "below 1"
  ${call}
  StrCpy $errors "clear"
  IfErrors 0 +2
    StrCpy $errors "set"
  StrCpy $stack ""
  ClearErrors
  Pop $item
  IfErrors +3
  StrCpy $stack "$stack[$item]"
  Goto -4
  FileWrite $log "${label}|$stack|$0 $1 $2 $3 $4 $5 $6 $7 $8 $9 $R0 $R1 $R2 $R3 $R4 $R5 $R6 $R7 $R8 $R9|$errors$\r$\n"
!macroend

Section
  FileOpen $log "$EXEDIR\result.txt" w
  !insertmacro CALL "architecture" "${tmnsisplug::WindowsPlatformArchitecture} $5"
  !insertmacro CALL "ticket" '${tmnsisplug::KillProcByPid} "1234" $6'
  !ifndef REFUSING
    System::Call "*$6(i .r1, i .r2, i .r3)"
    FileWrite $log "words|$1 $2 $3$\r$\n"
    ; The process id in $R0, as a script keeps what System::Call read.
    StrCpy $R0 "4321"
    ${tmnsisplug::KillProcByPid} $R0 $6
    System::Call "*$6(i .r1, i .r2, i .r3)"
    FileWrite $log "words from R0|$1 $2 $3|$R0$\r$\n"
  !endif
  !insertmacro CALL "ticket in R0" '${tmnsisplug::KillProcByPid} "77" $R0'
  !insertmacro CALL "ticket from and in R0" "${tmnsisplug::KillProcByPid} $R0 $R0"
  !insertmacro CALL "kill" '${tmnsisplug::KillProcByName} "${VICTIM}"'
  !insertmacro CALL "delete" '${tmnsisplug::PowerDeleteDir} "$EXEDIR\${TREE}"'
  !insertmacro CALL "close" "${tmnsisplug::CheckCloseMain}"
  !ifdef REFUSING
    !insertmacro CALL "hotfixes" "${tmnsisplug::PromptDeleteHotfixFiles} $R1"
    !insertmacro CALL "software" "${tmnsisplug::PromptDeleteSoftDownloadedFiles} $R2"
    !insertmacro CALL "drivers" "${tmnsisplug::PromptDeleteDriverDownloadedFiles} $R3"
    !insertmacro CALL "all downloads" "${tmnsisplug::PromptDelHotfixFiles}"
    !insertmacro CALL "install" "${tmnsisplug::ReportInstall}"
    !insertmacro CALL "uninstall" "${tmnsisplug::ReportUninstall} $R0"
  !endif
  FileClose $log
SectionEnd
