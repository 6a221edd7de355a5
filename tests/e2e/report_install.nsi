; One install report. With TWICE, a second one from the same loaded
; plug-in after the browser version (set to TWICE) and "PreOEMID" were
; changed, which the second report must not see. With NOUNLOAD the
; plug-in stays loaded to the end of the installer. With STATISTIC_LOG,
; what the plug-in still holds afterwards: the database library, and the
; statistic log open. With PLUGIN_FILE the plug-in is called from that file
; with CallInstDLL, without NSIS's plug-ins folder.
!include "common.nsh"

!ifdef NOUNLOAD
  !define KEEP "/NOUNLOAD"
!else
  !define KEEP ""
!endif

Section
  !insertmacro OPEN_LOG
  ; The product is 32-bit: its keys, and the browser it names, are in the
  ; 32-bit view, also for a 64-bit installer.
  SetRegView 32
  Push "below"
  !ifdef PLUGIN_FILE
    CallInstDLL "${PLUGIN_FILE}" ${KEEP} ReportInstall
  !else
    tmnsisplug::ReportInstall ${KEEP}
  !endif
  !ifdef TWICE
    WriteRegStr HKLM "SOFTWARE\Microsoft\Internet Explorer" "Version" "${TWICE}"
    WriteRegStr HKLM "SOFTWARE\Vardo\Coop" "PreOEMID" "99"
    tmnsisplug::ReportInstall ${KEEP}
  !endif
  !insertmacro DUMP_STACK "after"
  !ifdef STATISTIC_LOG
    System::Call 'kernel32::GetModuleHandleW(w "tarnbase.dll") p .r0'
    StrCmp $0 0 library_gone
      !insertmacro LOG "database library loaded"
      Goto library_done
    library_gone:
      !insertmacro LOG "database library unloaded"
    library_done:
    ; Opening without sharing is refused while the plug-in holds the log open.
    System::Call 'kernel32::CreateFileW(w "${STATISTIC_LOG}", i 0x80000000, i 0, p 0, i 3, i 0, p 0) p .r1 ?e'
    Pop $2
    IntCmp $1 -1 log_refused
      System::Call 'kernel32::CloseHandle(p r1)'
      !insertmacro LOG "log closed"
      Goto log_done
    log_refused:
      !insertmacro LOG "log refused with error $2"
    log_done:
  !endif
  !insertmacro CLOSE_LOG
SectionEnd
