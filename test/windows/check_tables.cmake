# cmake -DOBJDUMP=... -DLIBRARY=... -DEXPECTED=... -P check_tables.cmake
# Fails unless the export table of the Windows library LIBRARY names exactly
# the symbols in EXPECTED, and its import table names only the interpreter's
# DLL and Windows' own: a compiler runtime DLL would not be found on the
# search path of a Windows Ruby.
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} could not read ${LIBRARY}")
endif()

# The exported names are listed after "[Ordinal/Name Pointer] Table", up to
# a blank line, one entry a line ending in the name: "\t[   0] Name" up to
# binutils 2.43, "\t[   0] +base[   1]  0000 Name" from 2.44 on.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
set(exports)
if(start GREATER -1)
  string(SUBSTRING "${dump}" ${start} -1 names)
  string(FIND "${names}" "\n\n" end)
  string(SUBSTRING "${names}" 0 ${end} names)
  string(REGEX MATCHALL "\t\\[ *[0-9]+\\][^\n]*" entries "${names}")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^.*[ \t]" "" name "${entry}")
    list(APPEND exports ${name})
  endforeach()
endif()
if(NOT exports STREQUAL EXPECTED)
  message(FATAL_ERROR "${LIBRARY} exports [${exports}], expected [${EXPECTED}]")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" entries "${dump}")
set(imports)
foreach(entry IN LISTS entries)
  string(REPLACE "DLL Name: " "" name "${entry}")
  list(APPEND imports ${name})
  string(TOLOWER "${name}" name)
  # UCRT Rubies (x64-mingw-ucrt) take the C runtime from the api-ms-win-crt
  # forwarders of Windows' own Universal CRT.
  if(NOT name MATCHES "^(x64-(msvcrt|ucrt)-ruby[0-9]+|kernel32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+|shell32|advapi32|user32|ntdll)\\.dll$")
    message(FATAL_ERROR "${LIBRARY} imports ${name}, which is neither the interpreter's nor Windows' own")
  endif()
endforeach()
message(STATUS "${LIBRARY} exports ${exports} alone and imports ${imports}")
