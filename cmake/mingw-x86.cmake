# Cross-build for 32-bit Windows with MinGW-w64 (posix thread model).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORVEX_TRIPLET i686-w64-mingw32)
# The loader that runs this architecture's programs under Wine (32-bit, in a WoW64 prefix).
set(ORVEX_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
