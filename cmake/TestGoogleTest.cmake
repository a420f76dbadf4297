# GoogleTest's gtest_discover_tests, with one change for this project: every
# test runs with its own private simulated camera (TARNSCSI_SIM_STATE=private:
# no files, no claims between processes, no state carried over), so tests stay
# hermetic and safe under ctest -j, and the children they start (the tool,
# indiserver and the driver) inherit it. A test that wants the shared camera
# gives its own ENVIRONMENT_MODIFICATION, which replaces this one, or sets
# TARNSCSI_SIM_STATE for the processes it starts.
#
# Include this instead of GoogleTest: include(${PROJECT_SOURCE_DIR}/cmake/TestGoogleTest.cmake).
include(GoogleTest)

set(TARNSCSI_TEST_SIM_STATE "TARNSCSI_SIM_STATE=set:private")
# The same for a plain add_test: its ENVIRONMENT.
set(TARNSCSI_TEST_SIM_STATE_ENV "TARNSCSI_SIM_STATE=private")

function(gtest_discover_tests target)
  set(args ${ARGN})
  list(FIND args ENVIRONMENT_MODIFICATION own)
  list(FIND args PROPERTIES properties)
  if(NOT own EQUAL -1)
    # The test says what it wants.
  elseif(properties EQUAL -1)
    list(APPEND args PROPERTIES ENVIRONMENT_MODIFICATION ${TARNSCSI_TEST_SIM_STATE})
  else()
    math(EXPR after "${properties} + 1")
    list(INSERT args ${after} ENVIRONMENT_MODIFICATION ${TARNSCSI_TEST_SIM_STATE})
  endif()
  _gtest_discover_tests(${target} ${args})
endfunction()
