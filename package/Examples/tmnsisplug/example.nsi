; Vardo's installer and uninstaller in brief: how a script uses tmnsisplug
; through its include file. It builds as a Unicode installer (makensis's
; default), with Unicode false as an ANSI one, or with Target amd64-unicode
; as a 64-bit one; each loads the plug-in of its own flavour.
;
; With the package's folders copied into NSIS's own:
;   makensis example.nsi
; With the package unpacked elsewhere, say in PKG (one line):
;   makensis -X"!addincludedir PKG\Include"
;            -X"!addplugindir /x86-unicode PKG\Plugins\x86-unicode"
;            -X"!addplugindir /x86-ansi PKG\Plugins\x86-ansi"
;            -X"!addplugindir /amd64-unicode PKG\Plugins\amd64-unicode" example.nsi
; Add -X"Unicode false" before the file name for the ANSI installer, or
; -X"Target amd64-unicode" for the 64-bit one, and
; -DPRODUCT_FILES=DIR to carry the product's files from DIR\common and
; DIR\x64 or DIR\x86.

!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "tmnsisplug.nsh"

!define PRODUCT "Vardo"
!define PRODUCT_KEY "SOFTWARE\Vardo"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vardo"
!define MAIN_EXE "vardo.exe"
!define HELPER_EXE "VardoHelper.exe"
!ifndef OUT_FILE
  !define OUT_FILE "vardo-setup.exe"
!endif

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
; The product is a 32-bit program, also when the installer is 64-bit.
InstallDir "$PROGRAMFILES32\${PRODUCT}"
RequestExecutionLevel admin

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles


; Ends the running product before its files are replaced or removed: its
; main windows are asked to close and given a moment; whatever still runs
; is then ended by its executable's name.
!macro CLOSE_PRODUCT un
  Function ${un}CloseProduct
    ${tmnsisplug::CheckCloseMain}
    Sleep 2000
    ${tmnsisplug::KillProcByName} "${MAIN_EXE}"
    ${tmnsisplug::KillProcByName} "${HELPER_EXE}"
  FunctionEnd
!macroend
!insertmacro CLOSE_PRODUCT ""
!insertmacro CLOSE_PRODUCT "un."


; The product's keys live in the registry's 32-bit view, where the plug-in
; reads them; a 64-bit installer must name that view. The folder of an
; earlier install is taken from there.
Function .onInit
  SetRegView 32
  ReadRegStr $0 HKLM "${PRODUCT_KEY}" "Install Path"
  ${If} $0 != ""
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 32
FunctionEnd


Section "${PRODUCT}"
  Call CloseProduct

  ; The product's drivers are built per architecture; a 32-bit installer
  ; learns here whether Windows itself is 64-bit.
  ${tmnsisplug::WindowsPlatformArchitecture} $0
  DetailPrint "Windows is $0-bit"
  SetOutPath "$INSTDIR"
!ifdef PRODUCT_FILES
  File /r "${PRODUCT_FILES}\common\*.*"
  ${If} $0 == "64"
    File /r "${PRODUCT_FILES}\x64\*.*"
  ${Else}
    File /r "${PRODUCT_FILES}\x86\*.*"
  ${EndIf}
!endif

  ; A ticket for this installer's process: its address arrives in $1, and
  ; the System plug-in reads the three words it holds.
  System::Call "kernel32::GetCurrentProcessId() i .r0"
  ${tmnsisplug::KillProcByPid} "$0" $1
  ${If} $1 != ""
    System::Call "*$1(i .r2, i .r3, i .r4)"
    DetailPrint "Ticket $1: process $4, issued at tick $3"
  ${EndIf}

  ; The plug-in finds the product, its configuration and its download
  ; folders through this value.
  WriteRegStr HKLM "${PRODUCT_KEY}" "Install Path" "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
SectionEnd

; Only an install that went through is reported.
Function .onInstSuccess
  ${tmnsisplug::ReportInstall}
FunctionEnd


Section "Uninstall"
  Call un.CloseProduct

  ; The downloads are the user's to keep; leftovers of broken downloads go
  ; whatever the answer. A silent uninstall keeps them.
  ${If} ${Cmd} `MessageBox MB_YESNO|MB_ICONQUESTION "Delete the updates and programs ${PRODUCT} downloaded?" /SD IDNO IDYES`
    ${tmnsisplug::PromptDelHotfixFiles}
  ${Else}
    ${tmnsisplug::PromptDeleteHotfixFiles} "n"
    ${tmnsisplug::PromptDeleteSoftDownloadedFiles} "n"
    ${tmnsisplug::PromptDeleteDriverDownloadedFiles} "n"
  ${EndIf}

  ; Before the folder goes: the report's library lies below it.
  ${tmnsisplug::ReportUninstall} "1"

  ; The whole folder, by force, but only where it is the product's own: a
  ; user may have installed into a folder that holds other programs too
  ; (say "C:\Program Files" itself). The plug-in deletes nothing for an
  ; empty path or one that names a whole drive or share; a folder not named
  ; after the product loses only what this installer put there.
  ${GetFileName} "$INSTDIR" $0
  ${If} $0 == "${PRODUCT}"
    ${tmnsisplug::PowerDeleteDir} "$INSTDIR"
  ${Else}
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${PRODUCT_KEY}"
SectionEnd
