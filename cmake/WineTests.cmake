# Runs the Windows test programs under Wine from ctest.
#
# Every test runs in one Wine prefix of the build tree (<build>/wineprefix).
# The fixture "wine" starts Wine before the first test and stops it after the
# last: its setup starts a persistent wineserver and the prefix's services
# with their output going to a log file (a server left running by an
# interrupted run is simply used). The test programs then find Wine
# running, so each starts in a fraction of a second, and no service of Wine
# inherits (and keeps open) the output pipe ctest reads. The first start
# creates the prefix (some ten seconds); Mono and Gecko stay off so that Wine
# never offers to download them, and the setup has a time limit. A test
# program that crashes fails at once: Wine's debugger is switched off.
#
# Each test program runs as one ctest test (all its cases in one process):
# starting Wine per case would add little but time.

set(TARNSCSI_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
# Every error of the loader is shown (a missing DLL otherwise ends a program
# silently), nothing else of Wine's.
set(TARNSCSI_WINE_DEBUG "-all,err+module")
# Mono and Gecko are never wanted, nor desktop menu entries in $HOME.
set(TARNSCSI_WINE_BASE_OVERRIDES "mscoree,mshtml,winemenubuilder.exe=")
set(TARNSCSI_WINE_START_TIMEOUT 180)
set(TARNSCSI_WINE_TEST_TIMEOUT 120)

if(WINE_EXECUTABLE)
  get_filename_component(wine_bin_dir ${WINE_EXECUTABLE} DIRECTORY)
  find_program(WINESERVER_EXECUTABLE NAMES wineserver wineserver-stable HINTS ${wine_bin_dir} REQUIRED)
  find_program(WINEBOOT_EXECUTABLE NAMES wineboot wineboot-stable HINTS ${wine_bin_dir} REQUIRED)

  add_test(NAME win32.wine_start
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/wine-start.sh
            ${WINE_EXECUTABLE} ${WINESERVER_EXECUTABLE} ${WINEBOOT_EXECUTABLE} ${CMAKE_BINARY_DIR}/wineboot.log)
  set_tests_properties(win32.wine_start PROPERTIES
    FIXTURES_SETUP wine
    ENVIRONMENT "WINEPREFIX=${TARNSCSI_WINE_PREFIX};WINEDEBUG=${TARNSCSI_WINE_DEBUG};WINEDLLOVERRIDES=${TARNSCSI_WINE_BASE_OVERRIDES}"
    TIMEOUT ${TARNSCSI_WINE_START_TIMEOUT})

  # Ends the prefix's wineserver and everything under it. A server already
  # gone (ended by hand or by another run on the same prefix) leaves nothing
  # to clean up: wineserver -k then exits 1, which is no failure of the suite.
  add_test(NAME win32.wine_stop COMMAND sh -c "\"$0\" -k || true" ${WINESERVER_EXECUTABLE})
  set_tests_properties(win32.wine_stop PROPERTIES
    FIXTURES_CLEANUP wine
    ENVIRONMENT "WINEPREFIX=${TARNSCSI_WINE_PREFIX}")
else()
  message(WARNING "Wine not found: the Windows test programs are built but not run "
                  "(scripts/install-windows-deps.sh)")
endif()

# tarnscsi_wine_test(<target> [WNASPI32 <load order>])
# Runs the test program <target> under Wine (the cross-compiling emulator),
# from its own directory. WNASPI32 is Wine's load order for wnaspi32.dll:
# "n,b" (the default) takes ours from the program's directory, "n" only ours
# (none is found when ours is absent), "b" only Wine's built-in manager.
function(tarnscsi_wine_test target)
  cmake_parse_arguments(ARG "" "WNASPI32" "" ${ARGN})
  if(NOT DEFINED ARG_WNASPI32)
    set(ARG_WNASPI32 "n,b")
  endif()
  if(NOT WINE_EXECUTABLE)
    return()
  endif()
  set(name win32.${target})
  add_test(NAME ${name} COMMAND ${target} WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>)
  # Overrides are separated by ";", which must not split the ENVIRONMENT list.
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "WINEPREFIX=${TARNSCSI_WINE_PREFIX};WINEDEBUG=${TARNSCSI_WINE_DEBUG};WINEDLLOVERRIDES=${TARNSCSI_WINE_BASE_OVERRIDES}\;wnaspi32=${ARG_WNASPI32}"
    FIXTURES_REQUIRED wine
    TIMEOUT ${TARNSCSI_WINE_TEST_TIMEOUT})
endfunction()

# tarnscsi_wine_sim_test(<target>): a test program that works with our
# simulated manager, wnaspi32.dll in the common directory. Before its first
# test it checks that the manager the module loads is ours, not Wine's own.
function(tarnscsi_wine_sim_test target)
  target_link_libraries(${target} PRIVATE win32_sim_identity_check)
  tarnscsi_wine_test(${target})
endfunction()

# tarnscsi_wine_program_directory(<target> <dir>): builds the test program
# <target> into <dir> and copies TARNSCSI.dll there, so that the program
# finds the module beside it, as an application would, together with
# whatever other DLL <dir> holds (or lacks). Programs that share <dir> share
# the copy.
function(tarnscsi_wine_program_directory target dir)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${dir})
  string(MD5 dir_hash "${dir}")
  string(SUBSTRING "${dir_hash}" 0 12 dir_hash)
  set(copy tarnscsi_module_copy_${dir_hash})
  if(NOT TARGET ${copy})
    add_custom_command(OUTPUT ${dir}/TARNSCSI.dll
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:tarnscsi> ${dir}/TARNSCSI.dll
      DEPENDS $<TARGET_FILE:tarnscsi>
      VERBATIM)
    add_custom_target(${copy} DEPENDS ${dir}/TARNSCSI.dll)
    add_dependencies(${copy} tarnscsi)
  endif()
  add_dependencies(${target} ${copy})
endfunction()

# tarnscsi_wine_directory_tests(<dir>): the test programs (every executable)
# of the subdirectory <dir> run as Wine tests with our manager. Their case-by-case
# discovery (gtest_discover_tests) is dropped: it would run each program
# under Wine when ctest starts, before the fixture has started Wine.
function(tarnscsi_wine_directory_tests dir)
  set_property(DIRECTORY ${dir} PROPERTY TEST_INCLUDE_FILES "")
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      tarnscsi_wine_sim_test(${target})
    endif()
  endforeach()
endfunction()

# tarnscsi_wine_session_claims(<target>...): test programs whose manager has
# no claims of its own, so that the module claims the camera for the whole
# Wine session (src/transport/session_claims.h). Each program has a
# simulated camera of its own, all at the same address: they run one at a
# time, or one would find the camera held by another.
function(tarnscsi_wine_session_claims)
  if(NOT WINE_EXECUTABLE)
    return()
  endif()
  foreach(target IN LISTS ARGN)
    set_tests_properties(win32.${target} PROPERTIES RESOURCE_LOCK tarnscsi_session_claims)
  endforeach()
endfunction()
