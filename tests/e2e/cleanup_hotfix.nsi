; The hotfix cleanup against download folders named in several ways: for
; each, whether the "Hotfix" folder, the download not installed and the
; installed one stayed.
!include "cleanup.nsh"

!macro SCENARIO label answer downPath folder
  CreateDirectory "${PRODUCT}\Cfg"
  Delete "${PRODUCT}\Cfg\config.ini"
  WriteINIStr "${PRODUCT}\Cfg\config.ini" "VulMain" "DownPath" "${downPath}"
  WriteINIStr "${PRODUCT}\Cfg\config.ini" "DownFiles" "1" "installed.msu"
  WriteINIStr "${PRODUCT}\Cfg\config.ini" "DownFiles" "2" "pending.msu"
  WriteINIStr "${PRODUCT}\Cfg\config.ini" "InstedRet" "1" "1"
  !insertmacro MAKE_FILE "${PRODUCT}\Hotfix\other" "x.bin"
  !insertmacro MAKE_FILE "${folder}" "installed.msu"
  !insertmacro MAKE_FILE "${folder}" "pending.msu"
  tmnsisplug::PromptDeleteHotfixFiles "${answer}"
  !insertmacro EXISTS $1 "${PRODUCT}\Hotfix\other\x.bin"
  !insertmacro EXISTS $2 "${folder}\pending.msu"
  !insertmacro EXISTS $3 "${folder}\installed.msu"
  !insertmacro LOG "${label} hotfix=$1 pending=$2 installed=$3"
  RMDir /r "${PRODUCT}\Hotfix"
  RMDir /r "${PRODUCT}\Elsewhere"
!macroend

Section
  !insertmacro OPEN_LOG
  ; Another drive letter for "Hotfix" also renames it for the whole run.
  !ifdef DRIVE
    !insertmacro SCENARIO "n-drive-letter" "n" "${DRIVE}\" "${PRODUCT}\Hotfix"
    !insertmacro CLOSE_LOG
    Return
  !endif
  !insertmacro SCENARIO "n-letter-case" "n" "${PRODUCT}\HOTFIX" "${PRODUCT}\Hotfix"
  !insertmacro SCENARIO "n-trailing-backslash" "n" "${PRODUCT}\Hotfix\" "${PRODUCT}\Hotfix"
  !insertmacro SCENARIO "n-below" "n" "${PRODUCT}\Hotfix\dl" "${PRODUCT}\Hotfix\dl"
  !insertmacro SCENARIO "n-elsewhere" "n" "${PRODUCT}\Elsewhere" "${PRODUCT}\Elsewhere"
  !insertmacro SCENARIO "y-same" "y" "${PRODUCT}\Hotfix" "${PRODUCT}\Hotfix"
  !insertmacro SCENARIO "y-trailing-backslash" "y" "${PRODUCT}\hotfix\" "${PRODUCT}\Hotfix"
  !insertmacro SCENARIO "y-elsewhere" "y" "${PRODUCT}\Elsewhere" "${PRODUCT}\Elsewhere"
  ; "Linked" is a link to "Hotfix\dl", made by the case.
  !insertmacro SCENARIO "n-link-below" "n" "${PRODUCT}\Linked" "${PRODUCT}\Hotfix\dl"
  !insertmacro CLOSE_LOG
SectionEnd
