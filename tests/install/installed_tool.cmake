# The installed tool, run from elsewhere with LD_LIBRARY_PATH unset: which
# manager it loads (the installed one, the installed simulator with
# --simulate, whatever LD_LIBRARY_PATH names first), and a simulated
# exposure to a valid FITS file.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(tool ${PREFIX}/bin/tarnscsi)
set(clean_env ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH --unset=TARNSCSI_SIMULATOR --unset=TARNSCSI_TRACE)

# run(<out> <env>... -- <args>...): the tool's exit code and output.
function(run out)
  set(env "")
  set(args ${ARGN})
  list(FIND args -- split)
  if(split GREATER -1)
    list(SUBLIST args 0 ${split} env)
    math(EXPR split "${split} + 1")
    list(SUBLIST args ${split} -1 args)
  endif()
  execute_process(COMMAND ${clean_env} ${env} ${tool} ${args} WORKING_DIRECTORY ${WORK}
                  RESULT_VARIABLE code OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(${out}_code "${code}" PARENT_SCOPE)
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

# Which manager `scan` reports, by its real path.
set(real_manager ${PREFIX}/${LIBDIR}/tarnscsi/libwnaspi32.so)
set(simulator ${PREFIX}/${LIBDIR}/tarnscsi/simulator/libwnaspi32.so)
# label | environment | arguments (comma separated) | manager
set(cases
  "--simulate||--simulate,scan|${simulator}"
  "LD_LIBRARY_PATH first|LD_LIBRARY_PATH=${PREFIX}/${LIBDIR}/tarnscsi/simulator|scan|${simulator}")
if(SANITIZED)
  message(STATUS "sanitizer build: the installed manager found through the module's run path is not checked")
else()
  list(PREPEND cases "installed manager||scan|${real_manager}")
endif()
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 label)
  list(GET fields 1 env)
  list(GET fields 2 args)
  list(GET fields 3 want)
  string(REPLACE "," ";" args "${args}")
  run(scan ${env} -- ${args})
  if(NOT scan MATCHES "Manager: +([^\n]+)")
    message(SEND_ERROR "${label}: tarnscsi ${args} names no manager:\n${scan}")
    continue()
  endif()
  file(REAL_PATH "${CMAKE_MATCH_1}" got)
  if(NOT got STREQUAL want)
    message(SEND_ERROR "${label}: tarnscsi ${args} used ${got}, expected ${want}")
  endif()
endforeach()

# A simulated exposure (finished at once: time-scale=0) to a FITS file.
run(expose TARNSCSI_SIM=time-scale=0 -- --simulate expose 1 -o frame.fits -q)
if(NOT expose_code EQUAL 0)
  message(FATAL_ERROR "tarnscsi --simulate expose 1 -o frame.fits failed (${expose_code}):\n${expose}")
endif()
execute_process(COMMAND ${FITSVERIFY} -q ${WORK}/frame.fits RESULT_VARIABLE failed OUTPUT_VARIABLE verdict
                ERROR_VARIABLE verdict)
if(failed OR NOT verdict MATCHES "verification OK")
  message(SEND_ERROR "fitsverify does not accept the frame:\n${verdict}")
endif()
# The header's cards (80 characters each) and the full-frame data.
file(READ ${WORK}/frame.fits header LIMIT 8640)
foreach(card "BITPIX *= *16 " "NAXIS1 *= *768 " "NAXIS2 *= *512 " "BZERO *= *32768" "EXPTIME *= *1\\.")
  if(NOT header MATCHES "${card}")
    message(SEND_ERROR "the frame's header has no card matching \"${card}\"")
  endif()
endforeach()
file(SIZE ${WORK}/frame.fits size)
math(EXPR full_frame "768 * 512 * 2")
if(size LESS full_frame)
  message(SEND_ERROR "the frame holds ${size} bytes, less than a full 768 x 512 frame")
endif()
math(EXPR blocks "${size} % 2880")
if(NOT blocks EQUAL 0)
  message(SEND_ERROR "the frame's size ${size} is not a whole number of FITS blocks")
endif()
