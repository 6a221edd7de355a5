# Cross-build for 64-bit Windows. Debian's wine starts a 32-bit loader
# first; 64-bit programs need none, and run under wine64.
set(TM_MINGW_MACHINE x86_64)
set(TM_WINE_LOADER wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
