# Writes CHANGELOG.md as the Debian changelog that a package carries:
#   cmake -DIN=CHANGELOG.md -DOUT=changelog -DWHO="Name <address>" -P changelog.cmake
# Each "## VERSION (YYYY-MM-DD HH:MM UTC)" section is an entry and each "- "
# item one of its changes; the lines that carry an item on stay with it. A
# "### GROUP" heading names the items after it, set apart by a blank line.
# A "## Unreleased" section is in no package yet, and is left out.
file(STRINGS ${IN} lines ENCODING UTF-8)
set(out "")
set(trailer "")
foreach(line IN LISTS lines)
  if(line MATCHES "^## ([^ ]+) \\(([0-9-]+ [0-9:]+) UTC\\)$")
    set(unreleased FALSE)
    set(version ${CMAKE_MATCH_1})
    execute_process(COMMAND date -uR -d "${CMAKE_MATCH_2}Z"
                    OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "${IN}: date cannot read ${CMAKE_MATCH_2}")
    endif()
    string(APPEND out "${trailer}brelum (${version}) unstable; urgency=medium\n\n")
    set(trailer "\n -- ${WHO}  ${date}\n\n")
  elseif(line STREQUAL "## Unreleased")
    set(unreleased TRUE)
  elseif(unreleased)
  elseif(line MATCHES "^### (.+)")
    set(group "  ${CMAKE_MATCH_1}:\n") # before the MATCHES below resets it
    if(NOT out MATCHES "\n\n$")
      string(APPEND out "\n")
    endif()
    string(APPEND out "${group}")
  elseif(line MATCHES "^- (.*)")
    string(APPEND out "  * ${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^  (.*)")
    string(APPEND out "    ${CMAKE_MATCH_1}\n")
  elseif(NOT line STREQUAL "" AND NOT line MATCHES "^# ")
    message(FATAL_ERROR "${IN}: not a version, an item or its text: ${line}")
  endif()
endforeach()
if(NOT trailer)
  message(FATAL_ERROR "${IN}: no version")
endif()
string(STRIP "${out}${trailer}" out)
file(WRITE ${OUT} "${out}\n")
