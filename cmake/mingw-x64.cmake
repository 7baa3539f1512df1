# Cross-build for 64-bit Windows with MinGW-w64 (posix thread model).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORVEX_TRIPLET x86_64-w64-mingw32)
# The loader that runs this architecture's programs under Wine.
set(ORVEX_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
