; Shared by the cleanup installers: files to make, and what is left to log.
!include "common.nsh"

; Makes the folder chain and a four-byte file in it.
!macro MAKE_FILE folder name
  CreateDirectory "${folder}"
  FileOpen $0 "${folder}\${name}" w
  FileWrite $0 "data"
  FileClose $0
!macroend

; Sets the variable to 1 when the path (a file, or "dir\*.*") exists, else 0.
!macro EXISTS var path
  StrCpy ${var} "0"
  IfFileExists "${path}" 0 +2
    StrCpy ${var} "1"
!macroend
