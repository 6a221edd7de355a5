; A silent installer that uses each export of tmnsisplug and writes what
; every call left behind to demo-report.txt beside itself. It expects the
; folder demo-tree beside itself, to delete, and the product installed where
; HKLM\SOFTWARE\Vardo "Install Path" says, with its download folders to
; clean and its info-collection library at ovec\gleanor.dll. It also writes
; its uninstaller, demo-uninstall.exe, whose uninstall report goes to that
; library. With REPORT_ONLY defined it only sends the install report.
;   makensis -DTARGET=x86-ansi|amd64-unicode -DPLUGIN_DIR=<folder holding tmnsisplug.dll> demo.nsi
; TARGET names the NSIS target: x86-ansi (the default, the plug-in from
; build/x86-ansi) or amd64-unicode (a 64-bit installer, build/amd64-unicode).
!ifndef TARGET
  !define TARGET x86-ansi
!endif
!if "${TARGET}" == "x86-ansi"
  Unicode false
!else
  Target ${TARGET}
!endif
SilentInstall silent
SilentUnInstall silent
RequestExecutionLevel user
Name "Vardo demo"

!ifndef PLUGIN_DIR
  !define PLUGIN_DIR "..\build\${TARGET}"
!endif
!ifndef OUT_FILE
  !define OUT_FILE "demo-setup.exe"
!endif
!addplugindir /${TARGET} "${PLUGIN_DIR}"
OutFile "${OUT_FILE}"

!ifdef REPORT_ONLY
Section
  tmnsisplug::ReportInstall
SectionEnd
!else

Var report

!macro Report text
  FileWrite $report "${text}$\r$\n"
!macroend

Section
  FileOpen $report "$EXEDIR\demo-report.txt" w

  ; 64-bit or 32-bit Windows, also from this 32-bit installer.
  tmnsisplug::WindowsPlatformArchitecture
  Pop $0
  !insertmacro Report "WindowsPlatformArchitecture pushed $\"$0$\""

  ; A process-id ticket: its address comes back in $R0.
  tmnsisplug::KillProcByPid "4321"
  System::Call "*$R0(i .r1, i .r2, i .r3)"
  !insertmacro Report "KillProcByPid $\"4321$\" left $$R0=$R0; the ticket holds mixedId $1, tickCount $2, processId $3"

  ; Ask the product's main windows to close (they are not waited for).
  Push "untouched"
  tmnsisplug::CheckCloseMain
  Pop $0
  !insertmacro Report "CheckCloseMain posted its close requests; the text below it is still $\"$0$\""

  ; End every running copy of the product's helper, by executable name.
  Push "untouched"
  tmnsisplug::KillProcByName "VardoHelper.exe"
  Pop $0
  !insertmacro Report "KillProcByName $\"VardoHelper.exe$\" popped its name; the text below it is still $\"$0$\""

  ; Delete a whole tree by force: read-only entries and refused removals are
  ; dealt with; the script learns nothing of the outcome, so it looks.
  Push "untouched"
  tmnsisplug::PowerDeleteDir "$EXEDIR\demo-tree"
  Pop $0
  IfFileExists "$EXEDIR\demo-tree\*.*" 0 +3
    !insertmacro Report "PowerDeleteDir left $\"$EXEDIR\demo-tree$\" in place"
    Goto +2
    !insertmacro Report "PowerDeleteDir deleted $\"$EXEDIR\demo-tree$\"; the text below it is still $\"$0$\""

  ; The product's download folders, as its configuration file names them:
  ; the answer "y" deletes the downloads, any other answer keeps them (the
  ; software and driver cleanups delete download leftovers all the same).
  Push "untouched"
  tmnsisplug::PromptDeleteHotfixFiles "y"
  Pop $0
  !insertmacro Report "PromptDeleteHotfixFiles $\"y$\" popped its answer; the text below it is still $\"$0$\""
  Push "untouched"
  tmnsisplug::PromptDeleteSoftDownloadedFiles "n"
  Pop $0
  !insertmacro Report "PromptDeleteSoftDownloadedFiles $\"n$\" popped its answer; the text below it is still $\"$0$\""
  Push "untouched"
  tmnsisplug::PromptDeleteDriverDownloadedFiles "y"
  Pop $0
  !insertmacro Report "PromptDeleteDriverDownloadedFiles $\"y$\" popped its answer; the text below it is still $\"$0$\""
  ; All three with the answer yes; pops nothing.
  Push "untouched"
  tmnsisplug::PromptDelHotfixFiles
  Pop $0
  !insertmacro Report "PromptDelHotfixFiles popped nothing; the text below it is still $\"$0$\""

  ; The install beacon to the page counter, then the install record to the
  ; info-collection library; the installer waits for both.
  Push "untouched"
  tmnsisplug::ReportInstall
  Pop $0
  !insertmacro Report "ReportInstall popped nothing; the text below it is still $\"$0$\""

  WriteUninstaller "$EXEDIR\demo-uninstall.exe"
  !insertmacro Report "WriteUninstaller wrote demo-uninstall.exe"

  FileClose $report
SectionEnd

Section "Uninstall"
  FileOpen $report "$INSTDIR\demo-uninstall-report.txt" w

  ; The uninstall record, after the install's public record, goes to the
  ; info-collection library; the script learns nothing of it.
  Push "untouched"
  tmnsisplug::ReportUninstall "1"
  Pop $0
  !insertmacro Report "ReportUninstall $\"1$\" popped its text; the text below it is still $\"$0$\""

  FileClose $report
SectionEnd
!endif
