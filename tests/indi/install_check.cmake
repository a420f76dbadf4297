# Runs the INDI driver's install step into PREFIX, emptied first.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --component indi --prefix ${PREFIX}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "install failed: ${result}")
endif()
