; Each cleanup export with the answers Y, yes, the empty text and y: what
; it popped, whether its download stayed, whether the leftover stayed.
; Then PromptDelHotfixFiles, which pops nothing: what stayed of the three.
!include "cleanup.nsh"

!macro MAKE_DOWNLOADS
  !insertmacro MAKE_FILE "${PRODUCT}\Orvik\Download\pkg" "setup.exe"
  !insertmacro MAKE_FILE "${PRODUCT}\Driver\Download\pkg" "driver.exe"
  !insertmacro MAKE_FILE "${PRODUCT}\Hotfix" "kb.msu"
  !insertmacro MAKE_FILE "${PRODUCT}\Dl" "left.zip.tmp"
!macroend

!macro ANSWER function answer download
  !insertmacro MAKE_DOWNLOADS
  Push "below"
  tmnsisplug::${function} "${answer}"
  !insertmacro EXISTS $1 "${PRODUCT}\${download}"
  !insertmacro EXISTS $2 "${PRODUCT}\Dl\left.zip.tmp"
  !insertmacro DUMP_STACK "${function}(${answer}) download=$1 leftover=$2"
!macroend

!macro ANSWERS function download
  !insertmacro ANSWER ${function} "Y" "${download}"
  !insertmacro ANSWER ${function} "yes" "${download}"
  !insertmacro ANSWER ${function} "" "${download}"
  !insertmacro ANSWER ${function} "y" "${download}"
!macroend

Section
  !insertmacro OPEN_LOG
  !insertmacro ANSWERS PromptDeleteSoftDownloadedFiles "Orvik\Download\pkg\setup.exe"
  !insertmacro ANSWERS PromptDeleteDriverDownloadedFiles "Driver\Download\pkg\driver.exe"
  !insertmacro ANSWERS PromptDeleteHotfixFiles "Hotfix\kb.msu"
  !insertmacro MAKE_DOWNLOADS
  Push "below"
  tmnsisplug::PromptDelHotfixFiles
  !insertmacro EXISTS $1 "${PRODUCT}\Orvik\Download\pkg\setup.exe"
  !insertmacro EXISTS $2 "${PRODUCT}\Driver\Download\pkg\driver.exe"
  !insertmacro EXISTS $3 "${PRODUCT}\Hotfix\kb.msu"
  !insertmacro EXISTS $4 "${PRODUCT}\Dl\left.zip.tmp"
  !insertmacro DUMP_STACK "PromptDelHotfixFiles soft=$1 driver=$2 hotfix=$3 leftover=$4"
  !insertmacro CLOSE_LOG
SectionEnd
