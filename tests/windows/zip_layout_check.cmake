# The Windows zip packed by CHECK_SCRIPT (with the arguments the windows_zip
# target gives it) into OUT, then read back: TARNSCSI.dll, INSTALL.txt,
# LICENSE.txt and PROGRAMS ("|"-separated) at the top, the simulated manager
# only in simulator/ (beside the programs or the DLL an application or the
# module would load it in place of the real manager), the libraries'
# licences where a program is packed, and INSTALL.txt as Notepad shows it
# (CRLF, at most 80 columns).
cmake_policy(VERSION 3.25)
include(${CHECK_SCRIPT})

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ROOT}.zip WORKING_DIRECTORY ${OUT}
                OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot list ${OUT}/${ROOT}.zip")
endif()
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" entries "${listing}")
set(found)
foreach(entry IN LISTS entries)
  if(NOT entry MATCHES "/$")  # folders
    string(REGEX REPLACE "^${ROOT}/" "" entry "${entry}")
    list(APPEND found ${entry})
  endif()
endforeach()
list(SORT found)

string(REPLACE "|" ";" programs "${PROGRAMS}")
set(expected TARNSCSI.dll INSTALL.txt LICENSE.txt simulator/wnaspi32.dll ${programs})
if(programs)
  list(APPEND expected licenses/zlib.txt licenses/libpng.txt licenses/cfitsio.txt)
endif()
if("tarnscsi-alpaca.exe" IN_LIST programs)
  list(APPEND expected licenses/boost.txt)
endif()
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "the zip holds\n  ${found}\nexpected\n  ${expected}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ROOT}-debug.zip WORKING_DIRECTORY ${OUT}
                OUTPUT_VARIABLE debug_listing)
if(NOT debug_listing MATCHES "(^|\n)TARNSCSI.dll.debug\n")
  message(FATAL_ERROR "the debug zip lacks TARNSCSI.dll.debug:\n${debug_listing}")
endif()

# Read byte by byte: CMake's text reading drops the CRs.
file(READ ${OUT}/${ROOT}/INSTALL.txt hex HEX)
string(REGEX MATCHALL "[0-9a-f][0-9a-f]" bytes "${hex}")
set(line 1)
set(column 0)
set(previous "")
foreach(byte IN LISTS bytes)
  if(byte STREQUAL "0a")
    if(NOT previous STREQUAL "0d")
      message(FATAL_ERROR "INSTALL.txt: line ${line} is not ended by CR LF")
    endif()
    math(EXPR line "${line} + 1")
    set(column 0)
  elseif(NOT byte STREQUAL "0d")
    if(byte MATCHES "^[89a-f]")
      message(FATAL_ERROR "INSTALL.txt: line ${line} is not plain ASCII")
    endif()
    math(EXPR column "${column} + 1")
    if(column GREATER 80)
      message(FATAL_ERROR "INSTALL.txt: line ${line} is longer than 80 columns")
    endif()
  endif()
  set(previous ${byte})
endforeach()
file(READ ${OUT}/${ROOT}/INSTALL.txt text)
if(text MATCHES "@[A-Z_]+@")
  message(FATAL_ERROR "INSTALL.txt: a placeholder is left: ${CMAKE_MATCH_0}")
endif()
