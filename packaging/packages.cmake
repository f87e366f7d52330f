# What `cpack` makes: a Debian package in a Linux build tree, a tarball in a
# static one, a zip in a Windows one.
set(CPACK_PACKAGE_VENDOR brelum)
set(CPACK_PACKAGE_CONTACT
    "brelum maintainers <maintainers@users.noreply.c-seed-f815bcde.example>")
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-options.cmake)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME brelum-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME brelum-${PROJECT_VERSION}-win32)
  endif()
elseif(BRELUM_STATIC)
  # A static program runs on any Linux of its architecture: a tarball.
  set(CPACK_GENERATOR TGZ)
  string(TOLOWER ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR} platform)
  set(CPACK_PACKAGE_FILE_NAME brelum-${PROJECT_VERSION}-${platform})
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # brelum_VERSION_ARCH.deb
  # Debian's name for the architecture that the compiler builds for.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
                  OUTPUT_VARIABLE triple OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND dpkg-architecture -t ${triple} -qDEB_HOST_ARCH
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Its first line is the summary, CPack's by default: the project's
  # DESCRIPTION.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"brelum asks for a word, one per line, and answers each: the word is one of
the four Estonian words it knows (koer, kass, elevant, kaer); or none of
them has its length; or the fewest positions in which it differs from one
of them, with the words one position away. An empty line ends it.
.
It answers a person at a terminal, a program driving it over pipes, and a
word list fed from a file alike, in any line length and in constant
memory.")
endif()

include(CPack)
