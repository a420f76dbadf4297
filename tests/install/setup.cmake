# Installs the build tree into a fresh DESTDIR (STAGE), as packaging does.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${STAGE} ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE} ${CMAKE_COMMAND} --install ${BUILD_DIR}
                RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(failed)
  message(FATAL_ERROR "cmake --install with DESTDIR=${STAGE} failed:\n${output}")
endif()
