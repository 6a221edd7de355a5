; ---------------------
;    tmnsisplug.nsh
; ---------------------
;
; One macro per export of the tmnsisplug plug-in, for Vardo's installer and
; uninstaller. The same file serves Unicode installers (makensis's default,
; plug-in in Plugins\x86-unicode), ANSI ones (Unicode false, plug-in in
; Plugins\x86-ansi) and 64-bit ones (Target amd64-unicode, plug-in in
; Plugins\amd64-unicode).
;
;   !include "tmnsisplug.nsh"
;
;   Section
;     ${tmnsisplug::WindowsPlatformArchitecture} $0       ; "64" or "32"
;     ${tmnsisplug::PowerDeleteDir} "$INSTDIR\Cache"
;   SectionEnd
;
; Every macro takes its texts as arguments, any of them may be any
; variable ($R0 included), and leaves its result, where the export has one,
; in the variable named last. None reports a failure: the plug-in tells the
; script nothing but the results below. Each macro leaves the stack as it
; found it, and changes no variable but its output; the plug-in is called
; without /NOUNLOAD.
;
; Each macro clears the error flag, and sets it only when NSIS could not
; call the plug-in at all (its file missing, blocked or damaged). The
; arguments are then taken off the stack all the same, and an output is
; empty.
;
; ${TMNSISPLUG_VERSION} holds the version of this package ("1.1.0"),
; for scripts that want to check it with !if.
;
; Writing tmnsisplug::Export "text" calls the plug-in directly, as before;
; the macros add only the outputs, keep $R0 and balance the stack.

!ifndef TMNSISPLUG_NSH_INCLUDED
!define TMNSISPLUG_NSH_INCLUDED
!verbose push 3

!define TMNSISPLUG_VERSION "1.1.0"

; After a call that pushed one argument: when NSIS could not call the
; plug-in (the error flag is set), the argument is still on the stack and
; goes, and the flag, which IfErrors clears, is set again. No variable
; changes: $0 takes the argument and gets its value back.
!macro _tmnsisplug_DropArgumentIfNotCalled
  IfErrors 0 +4
    Exch $0
    Pop $0
    SetErrors
!macroend


; ${tmnsisplug::CheckCloseMain}
;   Asks the first window of each of Vardo's two main window classes to
;   close (a posted WM_SYSCOMMAND) and returns at once, without waiting for
;   them. Takes nothing, leaves nothing.
!define tmnsisplug::CheckCloseMain "!insertmacro tmnsisplug_CheckCloseMain"
!macro tmnsisplug_CheckCloseMain
  !verbose push 3
  ClearErrors
  tmnsisplug::CheckCloseMain
  !verbose pop
!macroend


; ${tmnsisplug::KillProcByName} NAME
;   Ends every running process whose executable file name is NAME (with its
;   extension, no folder; ASCII letters in any case, nothing else folded, no
;   wildcards). An empty NAME, or one longer than 199 characters, ends
;   nothing. Leaves nothing.
!define tmnsisplug::KillProcByName "!insertmacro tmnsisplug_KillProcByName"
!macro tmnsisplug_KillProcByName _NAME
  !verbose push 3
  ClearErrors
  tmnsisplug::KillProcByName `${_NAME}`
  !insertmacro _tmnsisplug_DropArgumentIfNotCalled
  !verbose pop
!macroend


; ${tmnsisplug::KillProcByPid} PID OUT
;   Ends no process: issues a ticket, 12 bytes that hold PID XOR the tick
;   count, the tick count and PID (three 32-bit words), and puts the
;   ticket's address, as decimal text, in the variable OUT (read it with
;   System::Call "*$OUT(i .r1, i .r2, i .r3)"). PID is read as decimal
;   text; one that is not a number gives 0. The plug-in writes the address
;   to $R0: the macro hands it to OUT and gives $R0 back its value, unless
;   OUT is $R0. PID may be any variable, $R0 included. OUT is empty when
;   no ticket could be issued.
!define tmnsisplug::KillProcByPid "!insertmacro tmnsisplug_KillProcByPid"
!macro tmnsisplug_KillProcByPid _PID _OUT
  !verbose push 3
  Push `${_PID}`  ; read before $R0 changes: PID may be $R0 itself
  Exch $R0        ; $R0 holds PID, the caller's $R0 waits below
  Push $R0        ; the argument the plug-in pops
  StrCpy $R0 ""
  ClearErrors
  tmnsisplug::KillProcByPid
  !insertmacro _tmnsisplug_DropArgumentIfNotCalled
  Exch $R0        ; the caller's $R0 back, the address on the stack
  Pop ${_OUT}
  !verbose pop
!macroend


; ${tmnsisplug::PowerDeleteDir} PATH
;   Deletes the directory tree PATH, the directory included, by force:
;   read-only entries are cleared, and what refuses to go has its ownership
;   taken and its access list rebuilt, then is tried once more; what still
;   resists stays. Links are never followed. Deletes nothing for a path
;   longer than 199 characters, a path with * or ?, a whole volume or share
;   (C:\, \\server\share), or a path that names no directory. Leaves
;   nothing: look with IfFileExists to learn what went.
!define tmnsisplug::PowerDeleteDir "!insertmacro tmnsisplug_PowerDeleteDir"
!macro tmnsisplug_PowerDeleteDir _PATH
  !verbose push 3
  ClearErrors
  tmnsisplug::PowerDeleteDir `${_PATH}`
  !insertmacro _tmnsisplug_DropArgumentIfNotCalled
  !verbose pop
!macroend


; ${tmnsisplug::PromptDeleteHotfixFiles} ANSWER
; ${tmnsisplug::PromptDeleteSoftDownloadedFiles} ANSWER
; ${tmnsisplug::PromptDeleteDriverDownloadedFiles} ANSWER
;   Cleans Vardo's hotfix, software or driver download folder, found
;   through HKLM\SOFTWARE\Vardo "Install Path" and Cfg\config.ini. ANSWER is
;   the user's answer to "delete the downloaded files?": exactly y deletes
;   them; any other text (Y, yes, n, empty) keeps them. Download leftovers
;   (.tmp, .nfo and the like after .exe, .msu or .zip) go whatever the
;   answer; for hotfixes the product's download ledger decides which files
;   may go. Leaves nothing.
!define tmnsisplug::PromptDeleteHotfixFiles "!insertmacro tmnsisplug_PromptDeleteHotfixFiles"
!macro tmnsisplug_PromptDeleteHotfixFiles _ANSWER
  !verbose push 3
  ClearErrors
  tmnsisplug::PromptDeleteHotfixFiles `${_ANSWER}`
  !insertmacro _tmnsisplug_DropArgumentIfNotCalled
  !verbose pop
!macroend

!define tmnsisplug::PromptDeleteSoftDownloadedFiles "!insertmacro tmnsisplug_PromptDeleteSoftDownloadedFiles"
!macro tmnsisplug_PromptDeleteSoftDownloadedFiles _ANSWER
  !verbose push 3
  ClearErrors
  tmnsisplug::PromptDeleteSoftDownloadedFiles `${_ANSWER}`
  !insertmacro _tmnsisplug_DropArgumentIfNotCalled
  !verbose pop
!macroend

!define tmnsisplug::PromptDeleteDriverDownloadedFiles "!insertmacro tmnsisplug_PromptDeleteDriverDownloadedFiles"
!macro tmnsisplug_PromptDeleteDriverDownloadedFiles _ANSWER
  !verbose push 3
  ClearErrors
  tmnsisplug::PromptDeleteDriverDownloadedFiles `${_ANSWER}`
  !insertmacro _tmnsisplug_DropArgumentIfNotCalled
  !verbose pop
!macroend


; ${tmnsisplug::PromptDelHotfixFiles}
;   The three cleanups above, hotfixes, software, drivers, each with the
;   answer y. Takes nothing, leaves nothing.
!define tmnsisplug::PromptDelHotfixFiles "!insertmacro tmnsisplug_PromptDelHotfixFiles"
!macro tmnsisplug_PromptDelHotfixFiles
  !verbose push 3
  ClearErrors
  tmnsisplug::PromptDelHotfixFiles
  !verbose pop
!macroend


; ${tmnsisplug::ReportInstall}
;   Reports the install: one beacon request (stored in an offline cache and
;   logged when it is not delivered), then the install record, handed to
;   Vardo's info-collection library. The whole call holds the installer at
;   most 12 s, whatever the network, Vardo's libraries and disks do. Takes
;   nothing, leaves nothing.
!define tmnsisplug::ReportInstall "!insertmacro tmnsisplug_ReportInstall"
!macro tmnsisplug_ReportInstall
  !verbose push 3
  ClearErrors
  tmnsisplug::ReportInstall
  !verbose pop
!macroend


; ${tmnsisplug::ReportUninstall} FLAG
;   Hands the uninstall record to Vardo's info-collection library, with
;   "uninstall" 1 when FLAG is exactly 1 and 0 for any other text (01, " 1",
;   empty). Sends no beacon. Holds the installer at most 12 s. Leaves
;   nothing.
!define tmnsisplug::ReportUninstall "!insertmacro tmnsisplug_ReportUninstall"
!macro tmnsisplug_ReportUninstall _FLAG
  !verbose push 3
  ClearErrors
  tmnsisplug::ReportUninstall `${_FLAG}`
  !insertmacro _tmnsisplug_DropArgumentIfNotCalled
  !verbose pop
!macroend


; ${tmnsisplug::WindowsPlatformArchitecture} OUT
;   Puts "64" in the variable OUT on 64-bit Windows (x64 or Itanium), also
;   from a 32-bit installer, and "32" everywhere else. The plug-in pushes
;   the text; the macro pops it into OUT.
!define tmnsisplug::WindowsPlatformArchitecture "!insertmacro tmnsisplug_WindowsPlatformArchitecture"
!macro tmnsisplug_WindowsPlatformArchitecture _OUT
  !verbose push 3
  ClearErrors
  tmnsisplug::WindowsPlatformArchitecture
  IfErrors 0 +4
    StrCpy ${_OUT} ""  ; nothing was pushed
    SetErrors
    Goto +2
  Pop ${_OUT}
  !verbose pop
!macroend


!verbose pop
!endif
