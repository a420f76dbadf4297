# Checks a DLL's export and import tables as `objdump -p` prints them.
#   cmake -D OBJDUMP=<objdump> -D DLL=<file> -D "EXPORTS=<name>@<ordinal>;..."
#         -D "IMPORTS=<dll>;..." [-D OTHER_EXPORTS=ON]
#         [-D "ALLOWED=<dll>=<list file>;..."] -P check_dll_tables.cmake
# EXPORTS are the names (exactly as written: no decoration) with their
# ordinals; without OTHER_EXPORTS nothing else may be exported. IMPORTS are
# all the DLLs it may import from, and all must be imported. With ALLOWED,
# every function imported from each <dll> named there must be listed in its
# <list file> (several separated by commas; one name a line, # comments),
# and nothing may be imported by ordinal: each import the lists lack is
# named.
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

# Imports: one "DLL Name: X" line per imported library, then, after a
# "vma:" heading, one line per imported function up to an empty line:
#   <tab>4e3ac<tab>    2  CloseHandle
# (address, hint, name). The functions are kept as "<dll>!<name>".
set(imported)
set(imported_functions)
set(unnamed_imports)
set(current_dll)
foreach(line IN LISTS lines)
  if(line MATCHES "^\tDLL Name: (.+)$")
    set(current_dll "${CMAKE_MATCH_1}")
    list(APPEND imported "${current_dll}")
  elseif(current_dll AND line MATCHES "^\tvma:")
  elseif(current_dll AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+ +([^ ]+)$")
    list(APPEND imported_functions "${current_dll}!${CMAKE_MATCH_1}")
  elseif(current_dll AND line MATCHES "[^ \t]")
    list(APPEND unnamed_imports "${current_dll}: ${line}")
  else()
    set(current_dll)
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

# Functions from the listed DLLs: only those their lists allow.
foreach(entry IN LISTS ALLOWED)
  if(NOT entry MATCHES "^([^=]+)=(.+)$")
    message(FATAL_ERROR "check_dll_tables.cmake: ALLOWED entry '${entry}' is not <dll>=<list file>")
  endif()
  set(allowed_dll "${CMAKE_MATCH_1}")
  set(allowed_file "${CMAKE_MATCH_2}")
  # Several lists for one DLL are separated by commas.
  string(REPLACE "," ";" allowed_files "${allowed_file}")
  set(allowed)
  foreach(file IN LISTS allowed_files)
    file(STRINGS "${file}" listed REGEX "^[^#]")
    list(APPEND allowed ${listed})
  endforeach()
  foreach(function IN LISTS imported_functions)
    string(FIND "${function}" "!" bang)
    string(SUBSTRING "${function}" 0 ${bang} dll)
    math(EXPR name_start "${bang} + 1")
    string(SUBSTRING "${function}" ${name_start} -1 name)
    if(dll STREQUAL allowed_dll AND NOT name IN_LIST allowed)
      list(APPEND problems "import of ${function}, which is not in ${allowed_file}")
    endif()
  endforeach()
endforeach()
if(ALLOWED)
  foreach(line IN LISTS unnamed_imports)
    list(APPEND problems "import not by name: ${line}")
  endforeach()
endif()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "${DLL}:\n  ${text}\nexports: ${exported}\nimports: ${imported}")
endif()
message(STATUS "${DLL}: exports ${exported}; imports ${imported}")
