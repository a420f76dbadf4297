# Builds the consumer program with nothing on its include path but the
# public headers, links it with the library alone, and runs it against the
# simulated camera. Called by ctest with -D for each variable below.
foreach(var COMPILER SOURCE INCLUDE_DIR LIBRARY SIMULATOR WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "consumer_check.cmake needs -D${var}=...")
  endif()
endforeach()
file(MAKE_DIRECTORY ${WORK_DIR})
set(program ${WORK_DIR}/consumer)
# The build's own flags (a sanitizer build's library needs its runtime).
separate_arguments(flags UNIX_COMMAND "${FLAGS}")
execute_process(
  COMMAND ${COMPILER} -std=c++20 -Wall -Wextra -Werror ${flags} -I${INCLUDE_DIR} ${SOURCE} ${LIBRARY} -ldl
          -pthread -o ${program}
  RESULT_VARIABLE built OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "the consumer does not build against the public headers alone:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env TARNSCSI_SIMULATOR=${SIMULATOR} ${program}
  RESULT_VARIABLE ran OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT ran EQUAL 0)
  message(FATAL_ERROR "the consumer failed (${ran}):\n${out}${err}")
endif()
if(NOT out MATCHES "64 x 64 at \\(0, 0\\) binned, 0 ms")
  message(FATAL_ERROR "the consumer took an unexpected frame:\n${out}")
endif()
message(STATUS "consumer: ${out}")
