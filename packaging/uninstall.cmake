# Run in a build tree by `cmake --build TREE --target uninstall`: undoes
# the tree's last install. The install wrote install_record.txt: the
# DESTDIR it used, as an absolute path, and each file it installed with its
# SHA-256. Unless DESTDIR is the same now (none if it used none), this
# refuses, removes nothing and exits with status 1. Else it removes each
# file that is still the one installed, and names each one that is not and
# leaves it alone. Then the record and install_manifest.txt go, so the tree
# has nothing to uninstall until it installs again. Last, each folder that
# the tree's installs made and that is empty now is removed, the deepest
# first.
if(NOT EXISTS install_record.txt)
  message(FATAL_ERROR "nothing to uninstall: this tree has installed "
    "nothing since it was made or last uninstalled")
endif()
file(STRINGS install_record.txt files)
list(POP_FRONT files destdir)
string(REGEX REPLACE "^DESTDIR=" "" destdir "${destdir}")

# DESTDIR as the install records it: an absolute path, a relative one taken
# from the build tree, where this runs, with no slash at its end.
set(given "$ENV{DESTDIR}")
if(NOT given STREQUAL "")
  get_filename_component(given "${given}" ABSOLUTE)
  string(REGEX REPLACE "/+$" "" given "${given}")
endif()
if(NOT given STREQUAL destdir)
  set(was "no DESTDIR")
  set(now "no DESTDIR")
  if(NOT destdir STREQUAL "")
    set(was "DESTDIR=${destdir}")
  endif()
  if(NOT given STREQUAL "")
    set(now "DESTDIR=${given}")
  endif()
  message(FATAL_ERROR "refused, nothing removed: this tree's last install "
    "used ${was}, and this uninstall has ${now}. Run it with ${was}.")
endif()

foreach(line IN LISTS files)
  string(SUBSTRING "${line}" 0 64 installed)
  string(SUBSTRING "${line}" 65 -1 f)
  set(f "${destdir}${f}")
  if(IS_SYMLINK "${f}" OR IS_DIRECTORY "${f}")
    message(NOTICE "Left alone, not the file installed: ${f}")
  elseif(NOT EXISTS "${f}")
    message(STATUS "Gone already: ${f}")
  else()
    file(SHA256 "${f}" now)
    if(now STREQUAL installed)
      message(STATUS "Removing: ${f}")
      file(REMOVE "${f}")
    else()
      message(NOTICE "Left alone, not the file installed: ${f}")
    endif()
  endif()
endforeach()
file(REMOVE install_record.txt install_manifest.txt)

set(kept "")
if(EXISTS install_folders.txt)
  file(STRINGS install_folders.txt folders)
  list(REMOVE_DUPLICATES folders)
  list(SORT folders)
  list(REVERSE folders) # a folder after those inside it
  foreach(d IN LISTS folders)
    execute_process(COMMAND rmdir "${d}" RESULT_VARIABLE r ERROR_QUIET)
    if(r EQUAL 0)
      message(STATUS "Removing: ${d}/")
    elseif(EXISTS "${d}")
      string(APPEND kept "${d}\n")
    endif()
  endforeach()
endif()
file(WRITE install_folders.txt "${kept}")
