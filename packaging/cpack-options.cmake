# Read by cpack. dpkg-shlibdeps works out the Depends of a Debian package
# from the C library of the package's architecture, which on a cross build
# is not the build machine's (Debian's multiarch libc6:ARCH).
if(CPACK_GENERATOR STREQUAL "DEB")
  set(ENV{DEB_HOST_ARCH} ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})
endif()
