# Build for Linux with Debian's g++ for a triple, cross or not:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/linux.cmake -DBRELUM_TRIPLE=arm-linux-gnueabi
# The triple is one of packaging/targets, which gives the processor as the
# tarball names it and how the tests run the program: under qemu-user, on
# the CPU that the table names; a dynamic one with Debian's C library for
# that architecture, libc6:ARCH, as the package will be.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BRELUM_TRIPLE)
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../packaging/targets target
     REGEX "^${BRELUM_TRIPLE} ")
if(NOT BRELUM_TRIPLE OR NOT target)
  message(FATAL_ERROR "BRELUM_TRIPLE: not one of packaging/targets: ${BRELUM_TRIPLE}")
endif()
string(REGEX REPLACE " +" ";" target "${target}")
list(GET target 1 CMAKE_SYSTEM_PROCESSOR)
list(GET target 2 qemu)
list(GET target 3 cpu)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${BRELUM_TRIPLE}-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR
    qemu-${qemu}-static -cpu ${cpu}
    CACHE STRING "How the tests run the program")
