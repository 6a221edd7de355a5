; Without the product's registry key the plug-in finds the product in its
; own folder, $PLUGINSDIR: the script puts a configuration file and
; downloads there first.
!include "cleanup.nsh"

Section
  !insertmacro OPEN_LOG
  InitPluginsDir
  CreateDirectory "$PLUGINSDIR\Cfg"
  WriteINIStr "$PLUGINSDIR\Cfg\config.ini" "SoftMain" "SoftDownDir" "$PLUGINSDIR\Dl"
  !insertmacro MAKE_FILE "$PLUGINSDIR\Orvik\Download" "p.exe"
  !insertmacro MAKE_FILE "$PLUGINSDIR\Driver\Download" "d.exe"
  !insertmacro MAKE_FILE "$PLUGINSDIR\Hotfix" "kb.msu"
  !insertmacro MAKE_FILE "$PLUGINSDIR\Dl" "a.exe.tmp"
  !insertmacro MAKE_FILE "$PLUGINSDIR\Dl" "a.exe"

  tmnsisplug::PromptDeleteSoftDownloadedFiles "y"
  !insertmacro EXISTS $1 "$PLUGINSDIR\Orvik\Download\*.*"
  !insertmacro EXISTS $2 "$PLUGINSDIR\Dl\a.exe.tmp"
  !insertmacro EXISTS $3 "$PLUGINSDIR\Dl\a.exe"
  !insertmacro LOG "soft download=$1 leftover=$2 other=$3"

  tmnsisplug::PromptDelHotfixFiles
  !insertmacro EXISTS $1 "$PLUGINSDIR\Hotfix\*.*"
  !insertmacro EXISTS $2 "$PLUGINSDIR\Driver\Download\*.*"
  !insertmacro EXISTS $3 "$PLUGINSDIR\Cfg\config.ini"
  !insertmacro EXISTS $4 "$PLUGINSDIR\tmnsisplug.dll"
  !insertmacro LOG "all hotfix=$1 driver=$2 config=$3 plugin=$4"
  !insertmacro CLOSE_LOG
SectionEnd
