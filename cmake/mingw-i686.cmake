# Cross-build for 32-bit Windows; its programs run under Debian's wine.
set(TM_MINGW_MACHINE i686)
set(TM_WINE_LOADER wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
