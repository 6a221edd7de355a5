; Deletes the product's default software download folder TREE with the
; cleanup export (METHOD "cleanup", answer "y"; METHOD "walk", answer "n",
; which only sizes the folder) or with NSIS's own RMDir /r, and writes the
; milliseconds it took, read from GetTickCount around the call.
SilentInstall silent
RequestExecutionLevel user
!include "target.nsh"
OutFile "${OUT_FILE}"
Name "tmnsisplug cleanup benchmark"

Section
  System::Call "kernel32::GetTickCount() i .r1"
  !if "${METHOD}" == "cleanup"
    tmnsisplug::PromptDeleteSoftDownloadedFiles "y"
  !else if "${METHOD}" == "walk"
    tmnsisplug::PromptDeleteSoftDownloadedFiles "n"
  !else
    RMDir /r "${TREE}"
  !endif
  System::Call "kernel32::GetTickCount() i .r2"
  IntOp $3 $2 - $1
  FileOpen $0 "$EXEDIR\elapsed.txt" w
  FileWrite $0 "$3"
  FileClose $0
SectionEnd
