# The part of the MinGW-w64 toolchain files common to both word sizes; the
# including file sets VENDRAL_MINGW_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)
if(VENDRAL_MINGW_TRIPLET MATCHES "^i686")
  set(CMAKE_SYSTEM_PROCESSOR x86)
else()
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
endif()

# The win32 thread model needs no runtime DLL of its own (the posix one would
# bring libwinpthread); prefer it explicitly when Debian offers both.
find_program(VENDRAL_MINGW_CXX NAMES ${VENDRAL_MINGW_TRIPLET}-g++-win32 ${VENDRAL_MINGW_TRIPLET}-g++
             REQUIRED)
find_program(VENDRAL_MINGW_CC NAMES ${VENDRAL_MINGW_TRIPLET}-gcc-win32 ${VENDRAL_MINGW_TRIPLET}-gcc
             REQUIRED)
set(CMAKE_CXX_COMPILER ${VENDRAL_MINGW_CXX})
set(CMAKE_C_COMPILER ${VENDRAL_MINGW_CC})
find_program(CMAKE_RC_COMPILER NAMES ${VENDRAL_MINGW_TRIPLET}-windres REQUIRED)
find_program(CMAKE_DLLTOOL NAMES ${VENDRAL_MINGW_TRIPLET}-dlltool REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${VENDRAL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
