# Cross-compiles for 32-bit Windows with Debian's MinGW-w64 (package
# g++-mingw-w64-i686): the legacy module build/vendral.dll for the MATLAB 5.x
# host. Usage:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(VENDRAL_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
