; A silent installer that uses each export of tmnsisplug and writes what
; every call left behind to demo-report.txt beside itself. It expects the
; folder demo-tree beside itself, to delete, and a product installed in
; PRODUCT (the registry's "Install Path") whose downloads it cleans up.
;   makensis -DPLUGIN_DIR=<folder holding tmnsisplug.dll> demo.nsi
Unicode false                 ; tmnsisplug is an ANSI plug-in
SilentInstall silent
RequestExecutionLevel user
Name "Vardo demo"

!ifndef PLUGIN_DIR
  !define PLUGIN_DIR "..\build\x86-ansi"
!endif
!ifndef OUT_FILE
  !define OUT_FILE "demo-setup.exe"
!endif
!ifndef PRODUCT
  !define PRODUCT "$EXEDIR\Vardo"
!endif
!addplugindir /x86-ansi "${PLUGIN_DIR}"
OutFile "${OUT_FILE}"

Var report

!macro Report text
  FileWrite $report "${text}$\r$\n"
!macroend

; "went" or "stayed", for a file or ("dir\*.*") a folder.
!macro ReportFile path
  StrCpy $1 "went"
  IfFileExists "${path}" 0 +2
    StrCpy $1 "stayed"
  !insertmacro Report "    ${path}: $1"
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

  ; The product's downloads. Software with the answer "n": the downloads
  ; stay, the download leftovers in the configured folder go all the same.
  Push "untouched"
  tmnsisplug::PromptDeleteSoftDownloadedFiles "n"
  Pop $0
  !insertmacro Report "PromptDeleteSoftDownloadedFiles $\"n$\" popped its answer; the text below it is still $\"$0$\""
  !insertmacro ReportFile "${PRODUCT}\Orvik\Download\VardoTools\setup.exe"
  !insertmacro ReportFile "${PRODUCT}\SoftDownloads\player.exe"
  !insertmacro ReportFile "${PRODUCT}\SoftDownloads\player.exe.tmp"
  !insertmacro ReportFile "${PRODUCT}\SoftDownloads\tool.zip_kti"

  ; Drivers with "y": the default download folder goes whole.
  tmnsisplug::PromptDeleteDriverDownloadedFiles "y"
  !insertmacro Report "PromptDeleteDriverDownloadedFiles $\"y$\":"
  !insertmacro ReportFile "${PRODUCT}\Driver\Download\*.*"
  !insertmacro ReportFile "${PRODUCT}\DriverDownloads\gpu.exe"
  !insertmacro ReportFile "${PRODUCT}\DriverDownloads\gpu.exe.nfo"

  ; Hotfixes with "y": the ledger says which downloads were installed; only
  ; those go from the configured folder, and the ledger keeps the rest.
  tmnsisplug::PromptDeleteHotfixFiles "y"
  !insertmacro Report "PromptDeleteHotfixFiles $\"y$\":"
  !insertmacro ReportFile "${PRODUCT}\HotfixDownloads\KB5001.msu"
  !insertmacro ReportFile "${PRODUCT}\HotfixDownloads\KB5002.msu"
  !insertmacro ReportFile "${PRODUCT}\HotfixDownloads\KB5003.msu"
  !insertmacro ReportFile "${PRODUCT}\Hotfix\scan.dat"
  ; "Hotfix" held a directory link to a folder outside the product: the
  ; link is removed as a link (Wine refuses that, so it stays), never entered.
  !insertmacro ReportFile "$EXEDIR\outside-folder\keep.txt"

  ; All three with "y", popping nothing.
  Push "untouched"
  tmnsisplug::PromptDelHotfixFiles
  Pop $0
  !insertmacro Report "PromptDelHotfixFiles popped nothing; the text on the stack is still $\"$0$\""
  !insertmacro ReportFile "${PRODUCT}\Orvik\Download\*.*"
  !insertmacro ReportFile "${PRODUCT}\SoftDownloads\player.exe"

  FileClose $report
SectionEnd
