; Deletes the trees it is given, while the test plays a local user who
; swaps their folders for links.
!include "common.nsh"

Section
  !insertmacro OPEN_LOG
  tmnsisplug::PowerDeleteDir "${ROOT}"
  !ifdef ROOT2
    tmnsisplug::PowerDeleteDir "${ROOT2}"
    tmnsisplug::PowerDeleteDir "${ROOT3}"
    tmnsisplug::PowerDeleteDir "${ROOT4}"
  !endif
  !insertmacro LOG "done"
  !insertmacro CLOSE_LOG
SectionEnd
