# cmake -DOBJDUMP=... -DLIBRARY=... -DEXPECTED=... -P check_exports.cmake
# Fails unless the export table of the Windows library LIBRARY names exactly
# the symbols in EXPECTED.
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} could not read ${LIBRARY}")
endif()
# Name pointer entries read "\t[   0] Name"; address entries, "\t[   0] +base...".
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [A-Za-z_][^\n]*" entries "${dump}")
set(exports)
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^\t\\[ *[0-9]+\\] " "" name "${entry}")
  list(APPEND exports ${name})
endforeach()
if(NOT exports STREQUAL EXPECTED)
  message(FATAL_ERROR "${LIBRARY} exports [${exports}], expected [${EXPECTED}]")
endif()
message(STATUS "${LIBRARY} exports ${exports} alone")
