# Cross build for Windows with Debian's mingw-w64 g++ for a triple:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/windows.cmake -DBRELUM_TRIPLE=x86_64-w64-mingw32
# (or i686-w64-mingw32 for 32-bit Windows). The tests run it under wine.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BRELUM_TRIPLE)
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${BRELUM_TRIPLE})
set(CMAKE_CXX_COMPILER ${BRELUM_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${BRELUM_TRIPLE}-windres)

# wine64 alone runs 64-bit programs; wine needs wine32 beside it.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL x86_64)
  find_program(WINE NAMES wine64 wine)
else()
  find_program(WINE NAMES wine)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE})
