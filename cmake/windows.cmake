# Cross build for Windows with Debian's mingw-w64 g++ for a triple:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/windows.cmake -DBRELUM_TRIPLE=x86_64-w64-mingw32
# (or i686-w64-mingw32 for 32-bit Windows). The tests run it under wine.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BRELUM_TRIPLE)
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${BRELUM_TRIPLE})
set(CMAKE_CXX_COMPILER ${BRELUM_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${BRELUM_TRIPLE}-windres)

# wine runs a program with the loader of its width. Debian keeps both in
# /usr/lib/wine, the 32-bit one from wine32, and puts on PATH a script that
# takes the 32-bit loader whenever wine32 is installed, even where the
# kernel cannot run it, and the 64-bit one, which runs no 32-bit program,
# where wine32 is not.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL x86_64)
  find_program(WINE NAMES wine64 wine PATHS /usr/lib/wine)
elseif(EXISTS /usr/lib/wine/wine64)
  find_program(WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
else()
  find_program(WINE NAMES wine)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE})
