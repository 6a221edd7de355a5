; The benchmark installers' target: the flavour the host can run (TARGET,
; x86-ansi or amd64-unicode), with the plug-in from PLUGIN_DIR.
!if "${TARGET}" == "x86-ansi"
  Unicode false
!else if "${TARGET}" == "amd64-unicode"
  Target amd64-unicode
!endif
!addplugindir /${TARGET} "${PLUGIN_DIR}"
