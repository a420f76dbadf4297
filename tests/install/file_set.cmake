# The installation holds exactly the expected files, below the prefix only;
# the module has its soname, its seven functions and the run path to the real
# manager, the programs theirs, and no installed binary points into the build
# tree.
cmake_minimum_required(VERSION 3.25)

string(REPLACE "," ";" PARTS "${PARTS}")

# Expected files, relative to the prefix; regular expressions.
set(expected
  "${LIBDIR}/libtarnscsi\\.so"
  "${LIBDIR}/libtarnscsi\\.so\\.0"
  "${LIBDIR}/libtarnscsi\\.so\\.${VERSION}"
  "${LIBDIR}/libtarnscsi_cpp\\.a"
  "${LIBDIR}/tarnscsi/libwnaspi32\\.so"
  "${LIBDIR}/tarnscsi/simulator/libwnaspi32\\.so"
  "${LIBDIR}/pkgconfig/tarnscsi\\.pc"
  "${LIBDIR}/cmake/tarnscsi/tarnscsi-config\\.cmake"
  "${LIBDIR}/cmake/tarnscsi/tarnscsi-config-version\\.cmake"
  "${LIBDIR}/cmake/tarnscsi/tarnscsi-targets\\.cmake"
  "${LIBDIR}/cmake/tarnscsi/tarnscsi-targets-[a-z]+\\.cmake"
  "lib/udev/rules\\.d/60-tarnscsi\\.rules"
  "share/metainfo/org\\.tarnscsi\\.tarnscsi\\.metainfo\\.xml"
  "lib/modules-load\\.d/tarnscsi\\.conf"
  "share/doc/tarnscsi/LICENSE")
file(GLOB headers RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/include/tarnscsi/*.h)
foreach(header IN LISTS headers)
  string(REPLACE "." "\\." header "${header}")
  list(APPEND expected "${header}")
endforeach()
if("tool" IN_LIST PARTS)
  list(APPEND expected "bin/tarnscsi" "share/bash-completion/completions/tarnscsi")
endif()
# Each program with its man page, where help2man made them.
if("man" IN_LIST PARTS)
  foreach(part_page IN ITEMS "tool|tarnscsi" "indi|indi_tarnscsi_ccd" "alpaca|tarnscsi-alpaca")
    string(REPLACE "|" ";" part_page "${part_page}")
    list(GET part_page 0 part)
    list(GET part_page 1 page)
    if(part IN_LIST PARTS)
      list(APPEND expected "share/man/man1/${page}\\.1")
    endif()
  endforeach()
endif()
if("indi" IN_LIST PARTS)
  list(APPEND expected "bin/indi_tarnscsi_ccd" "${INDI_DATA_DIR}/indi_tarnscsi\\.xml")
endif()
if("alpaca" IN_LIST PARTS)
  list(APPEND expected "bin/tarnscsi-alpaca" "lib/systemd/system/tarnscsi-alpaca\\.service")
endif()

file(GLOB_RECURSE in_stage LIST_DIRECTORIES false RELATIVE ${STAGE} ${STAGE}/*)
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${PREFIX} ${PREFIX}/*)
list(LENGTH in_stage stage_count)
list(LENGTH installed installed_count)
if(NOT stage_count EQUAL installed_count)
  message(SEND_ERROR "files installed outside the prefix ${PREFIX}:\n${in_stage}")
endif()

set(unexpected ${installed})
foreach(pattern IN LISTS expected)
  set(found OFF)
  foreach(file IN LISTS installed)
    if(file MATCHES "^${pattern}$")
      set(found ON)
      list(REMOVE_ITEM unexpected "${file}")
    endif()
  endforeach()
  if(NOT found)
    message(SEND_ERROR "not installed: ${pattern}")
  endif()
endforeach()
if(unexpected)
  list(JOIN unexpected "\n  " text)
  message(SEND_ERROR "installed but not expected:\n  ${text}")
endif()

# readelf -d: the soname and the run path of each binary ("" = none).
function(check_dynamic file soname runpath)
  execute_process(COMMAND ${READELF} -d ${PREFIX}/${file} OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
  if(failed)
    message(SEND_ERROR "readelf -d ${file} failed")
    return()
  endif()
  if(dynamic MATCHES "\\(RPATH\\)")
    message(SEND_ERROR "${file} has an RPATH, which LD_LIBRARY_PATH could not override:\n${dynamic}")
  endif()
  foreach(tag SONAME RUNPATH)
    string(TOLOWER ${tag} want_var)
    set(want "${${want_var}}")
    set(got "")
    if(dynamic MATCHES "\\(${tag}\\)[^\n]*\\[([^]\n]*)\\]")
      set(got "${CMAKE_MATCH_1}")
    endif()
    if(NOT got STREQUAL want)
      message(SEND_ERROR "${file}: ${tag} is \"${got}\", expected \"${want}\"")
    endif()
  endforeach()
endfunction()

file(RELATIVE_PATH bin_to_manager /bin /${LIBDIR}/tarnscsi)
check_dynamic(${LIBDIR}/libtarnscsi.so.0 libtarnscsi.so.0 "$ORIGIN/tarnscsi")
if("tool" IN_LIST PARTS)
  check_dynamic(bin/tarnscsi "" "$ORIGIN/${bin_to_manager}")
endif()
check_dynamic(${LIBDIR}/tarnscsi/libwnaspi32.so libwnaspi32.so "")
check_dynamic(${LIBDIR}/tarnscsi/simulator/libwnaspi32.so libwnaspi32.so "")
if("indi" IN_LIST PARTS)
  check_dynamic(bin/indi_tarnscsi_ccd "" "$ORIGIN/${bin_to_manager}")
endif()
if("alpaca" IN_LIST PARTS)
  check_dynamic(bin/tarnscsi-alpaca "" "$ORIGIN/${bin_to_manager}")
endif()

# The installed module exports the seven functions and nothing else.
execute_process(COMMAND ${READELF} --dyn-syms --wide ${PREFIX}/${LIBDIR}/libtarnscsi.so.0 OUTPUT_VARIABLE symbols)
string(REGEX MATCHALL "[^\n]* GLOBAL [^\n]*" globals "${symbols}")
set(exports "")
foreach(line IN LISTS globals)
  if(NOT line MATCHES " UND ")
    string(REGEX REPLACE ".* ([^ @]+)(@.*)?$" "\\1" name "${line}")
    list(APPEND exports ${name})
  endif()
endforeach()
list(SORT exports)
set(seven Connect Disconnect Download Expose GetCoolingInfo Ready SetTemperature)
if(NOT exports STREQUAL seven)
  message(SEND_ERROR "the installed module exports \"${exports}\", expected \"${seven}\"")
endif()
