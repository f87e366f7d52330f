# Build for Linux with Debian's g++ for a triple, cross or not:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/linux.cmake -DBRELUM_TRIPLE=arm-linux-gnueabi
# The tests run the program under qemu-user on the oldest CPU of its Debian
# architecture that qemu has; a dynamic one with Debian's C library for that
# architecture, libc6:ARCH, as the package will be.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BRELUM_TRIPLE)
# The processor as the tarball names it, qemu-user's name for it, the CPU.
set(x86_64-linux-gnu x86_64 x86_64 Opteron_G1)
set(i686-linux-gnu i686 i386 pentium2)
set(aarch64-linux-gnu aarch64 aarch64 cortex-a53)
set(arm-linux-gnueabihf armhf arm cortex-r5f)
set(arm-linux-gnueabi armel arm arm926)
set(powerpc64le-linux-gnu ppc64le ppc64le power8)
set(s390x-linux-gnu s390x s390x z900)
set(riscv64-linux-gnu riscv64 riscv64 sifive-u54)
if(NOT DEFINED ${BRELUM_TRIPLE})
  message(FATAL_ERROR "BRELUM_TRIPLE: not one of those above: ${BRELUM_TRIPLE}")
endif()
list(GET ${BRELUM_TRIPLE} 0 CMAKE_SYSTEM_PROCESSOR)
list(GET ${BRELUM_TRIPLE} 1 qemu)
list(GET ${BRELUM_TRIPLE} 2 cpu)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${BRELUM_TRIPLE}-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR
    qemu-${qemu}-static -cpu ${cpu}
    CACHE STRING "How the tests run the program")
