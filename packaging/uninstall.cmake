# Run in a build tree by `cmake --build TREE --target uninstall`: removes
# the files of the tree's last install, install_manifest.txt, under DESTDIR
# as that install was, then each folder that its installs made and that is
# empty now, the deepest first.
if(NOT EXISTS install_manifest.txt)
  message(FATAL_ERROR "nothing to uninstall: this tree has installed nothing")
endif()
file(STRINGS install_manifest.txt files)
foreach(f IN LISTS files)
  message(STATUS "Removing: $ENV{DESTDIR}${f}")
  file(REMOVE "$ENV{DESTDIR}${f}")
endforeach()
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
