; Runs the cleanup exports in turn (CALLS: "all", "soft-n", "soft-y" or "hotfix-y")
; and logs the stack each left.
!include "cleanup.nsh"

!macro CALL function answer
  Push "below"
  tmnsisplug::${function} "${answer}"
  !insertmacro DUMP_STACK "${function}"
!macroend

Section
  !insertmacro OPEN_LOG
  !if "${CALLS}" == "soft-n"
    !insertmacro CALL PromptDeleteSoftDownloadedFiles "n"
  !else if "${CALLS}" == "soft-y"
    !insertmacro CALL PromptDeleteSoftDownloadedFiles "y"
  !else if "${CALLS}" == "hotfix-y"
    !insertmacro CALL PromptDeleteHotfixFiles "y"
  !else
    !insertmacro CALL PromptDeleteHotfixFiles "y"
    !insertmacro CALL PromptDeleteSoftDownloadedFiles "y"
    !insertmacro CALL PromptDeleteDriverDownloadedFiles "y"
    Push "below"
    tmnsisplug::PromptDelHotfixFiles
    !insertmacro DUMP_STACK "PromptDelHotfixFiles"
  !endif
  !insertmacro CLOSE_LOG
SectionEnd
