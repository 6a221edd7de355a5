# Cross-build for Windows with MinGW-w64's posix thread model, for the
# machine the including toolchain file names in TM_MINGW_MACHINE (i686 or
# x86_64), whose programs run under the Wine loader it names in
# TM_WINE_LOADER.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TM_MINGW_MACHINE})
set(CMAKE_C_COMPILER ${TM_MINGW_MACHINE}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${TM_MINGW_MACHINE}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${TM_MINGW_MACHINE}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TM_MINGW_MACHINE}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
find_program(WINE_PROGRAM ${TM_WINE_LOADER} PATHS /usr/lib/wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
