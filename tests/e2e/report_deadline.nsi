; One install report, with the milliseconds it held the installer written
; as "held:N" after the stack. With WAIT_UNLOAD, the installer then makes
; "called.txt" and logs whether the plug-in is still loaded once NSIS has
; freed it, waits up to 30 s for it to be unloaded, and deletes its file.
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
    System::Call 'kernel32::GetModuleHandleW(w "tmnsisplug.dll") p .r4'
    StrCmp $4 0 gone_at_once
    !insertmacro LOG "still loaded after the call"
    StrCpy $6 0
    wait_unload:
      Sleep 100
      IntOp $6 $6 + 1
      System::Call 'kernel32::GetModuleHandleW(w "tmnsisplug.dll") p .r4'
      StrCmp $4 0 unloaded
      IntCmp $6 300 0 wait_unload
      !insertmacro LOG "never unloaded"
      Goto checked
    unloaded:
      !insertmacro LOG "unloaded after its worker"
      Goto checked
    gone_at_once:
      !insertmacro LOG "unloaded at once"
    checked:
    Delete "$PLUGINSDIR\tmnsisplug.dll"
    IfFileExists "$PLUGINSDIR\tmnsisplug.dll" 0 +3
      !insertmacro LOG "file kept"
      Goto +2
      !insertmacro LOG "file deleted"
  !endif
  !insertmacro CLOSE_LOG
SectionEnd
