# Cross-build for 32-bit Windows with MinGW-w64 (posix thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORVEX_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${ORVEX_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVEX_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${ORVEX_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ORVEX_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The loader that runs this architecture's programs under Wine (32-bit, WoW64 prefix).
set(ORVEX_WINE_LOADER /usr/lib/wine/wine)
