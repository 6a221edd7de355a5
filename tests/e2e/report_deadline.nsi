; One install report; "held:N" gives the milliseconds it took. With
; AFTER_CALL, another call while its worker runs, "called.txt", and once the
; test made "released.txt", whether the plug-in is loaded, and that call's result.
!include "common.nsh"

Section
  !insertmacro OPEN_LOG
  Push "below"
  System::Call "kernel32::GetTickCount() i .r1"
  tmnsisplug::ReportInstall
  System::Call "kernel32::GetTickCount() i .r2"
  IntOp $3 $2 - $1
  !insertmacro DUMP_STACK "after"
  !insertmacro LOG "held:$3"
  !ifdef AFTER_CALL
    tmnsisplug::WindowsPlatformArchitecture
    Pop $7
    FileOpen $5 "$EXEDIR\called.txt" w
    FileClose $5
    StrCpy $6 0
    wait_release:
      IfFileExists "$EXEDIR\released.txt" released
      IntOp $6 $6 + 1
      Sleep 100
      IntCmp $6 600 0 wait_release
    released:
    Sleep 3000
    System::Call 'kernel32::GetModuleHandleW(w "tmnsisplug.dll") p .r4'
    StrCmp $4 0 +3
      !insertmacro LOG "loaded after the worker ended"
      Goto +2
    !insertmacro LOG "unloaded"
    !insertmacro LOG "architecture:$7"
  !endif
  !insertmacro CLOSE_LOG
SectionEnd
