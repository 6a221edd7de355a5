; Deletes trees that the installer made itself, with read-only, hidden and
; system files and a read-only folder; then paths that name no directory.
!include "common.nsh"

!macro WRITE_FILE path
  FileOpen $0 "${path}" w
  FileWrite $0 "data"
  FileClose $0
!macroend

!macro MAKE_TREE root
  CreateDirectory "${root}\sub\deeper"
  CreateDirectory "${root}\read-only folder"
  !insertmacro WRITE_FILE "${root}\plain.txt"
  !insertmacro WRITE_FILE "${root}\sub\read-only.txt"
  !insertmacro WRITE_FILE "${root}\sub\deeper\hidden-system.txt"
  !insertmacro WRITE_FILE "${root}\read-only folder\inner.txt"
  SetFileAttributes "${root}\sub\read-only.txt" READONLY
  SetFileAttributes "${root}\sub\deeper\hidden-system.txt" HIDDEN|SYSTEM
  SetFileAttributes "${root}\read-only folder" READONLY
!macroend

!macro DELETE label path
  Push "below"
  tmnsisplug::PowerDeleteDir "${path}"
  !insertmacro DUMP_STACK "${label}"
!macroend

Section
  !insertmacro OPEN_LOG
  !insertmacro MAKE_TREE "${TREE}"
  !insertmacro MAKE_TREE "${SLASHED}"
  !insertmacro MAKE_TREE "${LONG199}"
  !insertmacro MAKE_TREE "${LONG199_OTHER}"
  !insertmacro MAKE_TREE "${LONG200}"
  !insertmacro LOG "made"

  !insertmacro DELETE "tree" "${TREE}"
  !insertmacro DELETE "foreign" "${FOREIGN}"
  !insertmacro DELETE "slashed" "${SLASHED}\"
  !insertmacro DELETE "linked" "${LINKED}"
  !insertmacro DELETE "missing" "${MISSING}"
  !insertmacro DELETE "file" "${AFILE}"
  !insertmacro DELETE "empty" ""
  !insertmacro DELETE "long199" "${LONG199}"
  !insertmacro DELETE "long200" "${LONG200}"
  !insertmacro DELETE "rootlink" "${ROOTLINK}"
  !insertmacro DELETE "rootlink-slash" "${ROOTLINK}\"
  !insertmacro DELETE "drive-root" "${DRIVE}:\"
  !insertmacro DELETE "drive" "${DRIVE}:"
  !insertmacro DELETE "drive-long-form" "\\?\${DRIVE}:\"
  !insertmacro DELETE "drive-up" "${DRIVE}:\inner\.."
  !insertmacro DELETE "drive-folder" "${DRIVE}:\inner"
  ; From where the installer stands: a relative path, one rooted at the
  ; current drive, one relative to a drive's current folder.
  SetOutPath "${STANDING}"
  !insertmacro DELETE "relative" "rel"
  !insertmacro DELETE "drive-rooted" "${ROOTED}"
  !insertmacro DELETE "drive-relative" "${DRIVE_RELATIVE}"
  !insertmacro CLOSE_LOG
SectionEnd
