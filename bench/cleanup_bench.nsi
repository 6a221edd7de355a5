; Deletes the product's default software download folder TREE with the
; cleanup export (METHOD "cleanup", answer "y"; METHOD "walk", answer "n",
; which only sizes the folder), with the shell's file
; operation alone as the cleanup calls it (METHOD "shell"), or with NSIS's
; own RMDir /r, and writes the milliseconds it took, read from GetTickCount
; around the call.
Unicode false
SilentInstall silent
RequestExecutionLevel user
!addplugindir /x86-ansi "${PLUGIN_DIR}"
OutFile "${OUT_FILE}"
Name "tmnsisplug cleanup benchmark"

Section
  !if "${METHOD}" == "shell"
    ; The path in a zero-filled block ends in two NULs; SHFILEOPSTRUCTW is
    ; packed to one byte here: hwnd, wFunc FO_DELETE, pFrom, pTo, the 16-bit
    ; flags 0x1610, fAnyOperationsAborted, hNameMappings, the title.
    System::Alloc 2048
    Pop $4
    System::Call "*$4(&w1000 '${TREE}')"
    System::Call "*(i 0, i 3, p r4, p 0, &i2 0x1610, i 0, p 0, p 0) p .r5"
  !endif
  System::Call "kernel32::GetTickCount() i .r1"
  !if "${METHOD}" == "cleanup"
    tmnsisplug::PromptDeleteSoftDownloadedFiles "y"
  !else if "${METHOD}" == "walk"
    tmnsisplug::PromptDeleteSoftDownloadedFiles "n"
  !else if "${METHOD}" == "shell"
    System::Call "shell32::SHFileOperationW(p r5) i .r6"
  !else
    RMDir /r "${TREE}"
  !endif
  System::Call "kernel32::GetTickCount() i .r2"
  IntOp $3 $2 - $1
  FileOpen $0 "$EXEDIR\elapsed.txt" w
  FileWrite $0 "$3"
  FileClose $0
SectionEnd
