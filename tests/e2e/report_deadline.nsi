; One install report; "held:N" gives the milliseconds it took. With
; WAIT_UNLOAD, then "called.txt", whether the plug-in is still loaded once
; NSIS freed it, whether it is unloaded within 30 s, and its file deleted.
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
  !ifdef WAIT_UNLOAD
    FileOpen $5 "$EXEDIR\called.txt" w
    FileClose $5
    StrCpy $6 0
    wait_unload:
      System::Call 'kernel32::GetModuleHandleW(w "tmnsisplug.dll") p .r4'
      StrCmp $4 0 unloaded
      StrCmp $6 0 0 +2
        !insertmacro LOG "loaded after the call"
      IntOp $6 $6 + 1
      Sleep 100
      IntCmp $6 300 0 wait_unload
      Goto checked
    unloaded:
    !insertmacro LOG "unloaded"
    checked:
    Delete "$PLUGINSDIR\tmnsisplug.dll"
    IfFileExists "$PLUGINSDIR\tmnsisplug.dll" +2
      !insertmacro LOG "file deleted"
  !endif
  !insertmacro CLOSE_LOG
SectionEnd
