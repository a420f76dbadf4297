# Checks a DLL's export and import tables as `objdump -p` prints them.
#   cmake -D OBJDUMP=<objdump> -D DLL=<file> -D "EXPORTS=<name>@<ordinal>;..."
#         -D "IMPORTS=<dll>;..." [-D OTHER_EXPORTS=ON] -P check_dll_tables.cmake
# EXPORTS are the names (exactly as written: no decoration) with their
# ordinals; without OTHER_EXPORTS nothing else may be exported. IMPORTS are
# all the DLLs it may import from, and all must be imported.
cmake_minimum_required(VERSION 3.25)

foreach(var OBJDUMP DLL EXPORTS IMPORTS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_dll_tables.cmake: ${var} not given")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${DLL}
  OUTPUT_VARIABLE dump RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${errors}")
endif()
string(REPLACE "\n" ";" lines "${dump}")

# Exports: the "[Ordinal/Name Pointer] Table" lists each named export by its
# index in the export address table, in name order:
#   [   0] Connect
# and its ordinal is that index plus the ordinal base the table header names.
set(exported)
set(base)
set(in_names OFF)
foreach(line IN LISTS lines)
  if(line MATCHES "^Export Address Table -- Ordinal Base ([0-9]+)")
    set(base ${CMAKE_MATCH_1})
  elseif(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_names ON)
  elseif(in_names AND line MATCHES "^\t\\[ *([0-9]+)\\] (.+)$")
    math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
    list(APPEND exported "${CMAKE_MATCH_2}@${ordinal}")
  elseif(in_names)
    set(in_names OFF)
  endif()
endforeach()

# Imports: one "DLL Name: X" line per imported library.
set(imported)
foreach(line IN LISTS lines)
  if(line MATCHES "^\tDLL Name: (.+)$")
    list(APPEND imported "${CMAKE_MATCH_1}")
  endif()
endforeach()

set(problems)
foreach(export IN LISTS EXPORTS)
  if(NOT export IN_LIST exported)
    list(APPEND problems "missing export ${export}")
  endif()
endforeach()
if(NOT OTHER_EXPORTS)
  foreach(export IN LISTS exported)
    if(NOT export IN_LIST EXPORTS)
      list(APPEND problems "unexpected export ${export}")
    endif()
  endforeach()
endif()
foreach(import IN LISTS imported)
  if(NOT import IN_LIST IMPORTS)
    list(APPEND problems "unexpected import from ${import}")
  endif()
endforeach()
foreach(import IN LISTS IMPORTS)
  if(NOT import IN_LIST imported)
    list(APPEND problems "no import from ${import}")
  endif()
endforeach()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "${DLL}:\n  ${text}\nexports: ${exported}\nimports: ${imported}")
endif()
message(STATUS "${DLL}: exports ${exported}; imports ${imported}")
