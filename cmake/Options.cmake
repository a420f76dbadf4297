# What a configure builds besides the module. The module, its managers and
# the example (src/, aspi/, managers/, examples/) need only a compiler and
# CMake; the tool, the INDI driver, the benchmarks and the tests need
# Debian's packages (scripts/packages/<set>.txt).
#
# Each TARNSCSI_BUILD_<PART> is AUTO (the default), ON or OFF. AUTO decides at
# every configure: the part is built when what it needs is found, so that
# installing the packages later brings it in without clearing the cache. ON
# stops the configure, naming what is missing and how to install it. OFF
# leaves the part out.
#
# The decisions come out as TARNSCSI_WITH_TOOLS, TARNSCSI_WITH_BENCH,
# TARNSCSI_WITH_ALPACA, TARNSCSI_WITH_INDI (the INDI driver's folder is entered; it checks for
# libindi itself), TARNSCSI_WITH_IMAGING (the imaging library, where the tool
# or the Alpaca server is built) and TARNSCSI_WITH_TESTS; after the front-ends' folders,
# tarnscsi_decide_front_end_tests() sets TARNSCSI_TEST_TOOLS,
# TARNSCSI_TEST_INDI and TARNSCSI_TEST_ALPACA: whether the programs and
# libraries their tests use are there.

# tarnscsi_part_option(<part> <description>): the cache entry
# TARNSCSI_BUILD_<part>, AUTO unless set.
function(tarnscsi_part_option part description)
  set(TARNSCSI_BUILD_${part} AUTO CACHE STRING "${description}: AUTO (when what it needs is found), ON or OFF")
  set_property(CACHE TARNSCSI_BUILD_${part} PROPERTY STRINGS AUTO ON OFF)
  # A build tree of an older version holds the entry as a boolean.
  set_property(CACHE TARNSCSI_BUILD_${part} PROPERTY TYPE STRING)
endfunction()

# tarnscsi_is_auto(<part> <out>): whether TARNSCSI_BUILD_<part> says AUTO.
function(tarnscsi_is_auto part out)
  string(TOUPPER "${TARNSCSI_BUILD_${part}}" choice)
  if(choice STREQUAL "AUTO")
    set(${out} ON PARENT_SCOPE)
  else()
    set(${out} OFF PARENT_SCOPE)
  endif()
endfunction()

# tarnscsi_decide(<part> <what> <remedy> [<missing>...]): sets
# TARNSCSI_WITH_<part> in the caller from TARNSCSI_BUILD_<part> and the list
# of what is missing. <what> names the part, <remedy> says how to get what
# is missing (both in messages).
function(tarnscsi_decide part what remedy)
  set(missing ${ARGN})
  list(JOIN missing ", " missing_text)
  tarnscsi_is_auto(${part} auto)
  if(auto)
    set(with ON)
    if(missing)
      message(STATUS "Not building ${what} (missing: ${missing_text}; ${remedy})")
      set(with OFF)
    endif()
  elseif(TARNSCSI_BUILD_${part})
    if(missing)
      message(FATAL_ERROR "TARNSCSI_BUILD_${part} is ON, but ${what} cannot be built without ${missing_text}: "
                          "${remedy}, or configure with -DTARNSCSI_BUILD_${part}=AUTO or OFF")
    endif()
    set(with ON)
  else()
    set(with OFF)
  endif()
  set(TARNSCSI_WITH_${part} ${with} PARENT_SCOPE)
endfunction()

# tarnscsi_pkg_config_found(<module> <out>): whether pkg-config knows <module>.
function(tarnscsi_pkg_config_found module out)
  find_package(PkgConfig QUIET)
  set(found OFF)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(TARNSCSI_PROBE_${module} QUIET ${module})
    if(TARNSCSI_PROBE_${module}_FOUND)
      set(found ON)
    endif()
  endif()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# tarnscsi_missing_pkg_config(<list> <module> <text>): appends <text> to
# <list> when pkg-config does not know <module>.
function(tarnscsi_missing_pkg_config list module text)
  tarnscsi_pkg_config_found(${module} found)
  if(NOT found)
    set(${list} ${${list}} "${text}" PARENT_SCOPE)
  endif()
endfunction()

# tarnscsi_missing_cli_json(<list>): appends to <list> what is missing of
# the command-line and JSON libraries every front-end program uses.
function(tarnscsi_missing_cli_json list)
  set(missing ${${list}})
  find_package(CLI11 CONFIG QUIET)
  if(NOT CLI11_FOUND)
    list(APPEND missing "CLI11 (libcli11-dev)")
  endif()
  find_package(nlohmann_json CONFIG QUIET)
  if(NOT nlohmann_json_FOUND)
    list(APPEND missing "nlohmann_json (nlohmann-json3-dev)")
  endif()
  set(${list} ${missing} PARENT_SCOPE)
endfunction()

# tarnscsi_missing_imaging(<list>): appends to <list> what is missing of the
# libraries of the imaging library (imaging/): libpng, and cfitsio through
# pkg-config.
function(tarnscsi_missing_imaging list)
  set(missing ${${list}})
  find_package(PNG QUIET)
  if(NOT PNG_FOUND)
    list(APPEND missing "libpng (libpng-dev)")
  endif()
  tarnscsi_missing_pkg_config(missing cfitsio "cfitsio through pkg-config (libcfitsio-dev, pkg-config)")
  set(${list} ${missing} PARENT_SCOPE)
endfunction()

tarnscsi_part_option(TOOLS "Build the tarnscsi command-line tool")
tarnscsi_part_option(INDI "Build the INDI driver")
tarnscsi_part_option(ALPACA "Build the ASCOM Alpaca server")
tarnscsi_part_option(BENCH "Build the benchmarks")
tarnscsi_part_option(TESTS "Build the test suite")
option(TARNSCSI_BUILD_FUZZ "Build the libFuzzer targets instead (clang; the preset fuzz)" OFF)

# The tool: CLI11, nlohmann-json, libpng, and cfitsio through pkg-config.
set(missing)
set(remedy "run scripts/install-deps.sh tools")
if(TARNSCSI_BUILD_TOOLS)  # AUTO or ON
  if(WIN32)
    # The cross-built imaging libraries and Debian's header-only ones
    # (cmake/WindowsImagingLibs.cmake, cmake/WindowsHeaderLibs.cmake).
    set(remedy "run scripts/install-windows-deps.sh")
    if(NOT EXISTS ${TARNSCSI_WIN32_LIBS}/BUILT)
      list(APPEND missing "zlib, libpng and cfitsio cross-built for Windows (in ${TARNSCSI_WIN32_LIBS})")
    endif()
    foreach(header CLI/CLI.hpp nlohmann/json.hpp)
      if(NOT EXISTS /usr/include/${header})
        list(APPEND missing "/usr/include/${header} (libcli11-dev, nlohmann-json3-dev)")
      endif()
    endforeach()
  else()
    tarnscsi_missing_cli_json(missing)
    tarnscsi_missing_imaging(missing)
  endif()
endif()
tarnscsi_decide(TOOLS "the tool (tools/)" "${remedy}" ${missing})

# The benchmarks time the tool's FITS writer and run the tool.
set(missing)
if(NOT TARNSCSI_WITH_TOOLS)
  list(APPEND missing "the tool (TARNSCSI_BUILD_TOOLS)")
endif()
tarnscsi_decide(BENCH "the benchmarks (bench/)" "run scripts/install-deps.sh tools" ${missing})

# The INDI driver needs only the library; whether libindi is there is up to
# indi/CMakeLists.txt, under the same option.
set(missing)
tarnscsi_decide(INDI "the INDI driver (indi/)" "run scripts/install-deps.sh indi" ${missing})
if(NOT EXISTS ${PROJECT_SOURCE_DIR}/indi/CMakeLists.txt)
  set(TARNSCSI_WITH_INDI OFF)
endif()

# The Alpaca server: Boost's headers (Beast and Asio), CLI11, nlohmann-json,
# libpng and cfitsio. Its tests' and benchmarks' HTTP client, cpp-httplib,
# decides only whether those are built (TARNSCSI_TEST_ALPACA, bench/): the
# server itself never waits for a test tool.
# On Windows the same headers (through the toolchain's find roots) and the
# imaging libraries cross-built by scripts/build-windows-libs.sh; its tests
# run the Linux build's test programs against it (tests/windows/).
set(missing)
set(remedy "run scripts/install-deps.sh alpaca")
if(TARNSCSI_BUILD_ALPACA)  # AUTO or ON
  find_package(Boost 1.74 QUIET)
  if(NOT Boost_FOUND)
    list(APPEND missing "Boost's headers, 1.74 or later (libboost1.74-dev)")
  endif()
  if(WIN32)
    set(remedy "run scripts/install-windows-deps.sh")
    tarnscsi_missing_cli_json(missing)
    if(NOT EXISTS ${TARNSCSI_WIN32_LIBS}/BUILT)
      list(APPEND missing "the imaging libraries for Windows (scripts/install-windows-deps.sh)")
    endif()
  else()
    tarnscsi_missing_cli_json(missing)
    # The camera page's FITS files and PNG previews.
    tarnscsi_missing_imaging(missing)
  endif()
endif()
tarnscsi_decide(ALPACA "the Alpaca server (alpaca/)" "${remedy}" ${missing})

# The imaging library, for the programs that use it; it builds on its own
# (--target tarnscsi_imaging) with libpng and cfitsio alone.
set(TARNSCSI_WITH_IMAGING OFF)
if(TARNSCSI_WITH_TOOLS OR TARNSCSI_WITH_ALPACA)
  set(TARNSCSI_WITH_IMAGING ON)
endif()

# The tests: GoogleTest (for the Windows build, built from its sources).
set(missing)
if(WIN32)
  set(remedy "run scripts/install-windows-deps.sh")
else()
  set(remedy "run scripts/install-deps.sh core")
endif()
if(TARNSCSI_BUILD_TESTS)  # AUTO or ON
  find_package(GTest QUIET)
  if(NOT GTest_FOUND)
    list(APPEND missing "GoogleTest (libgtest-dev)")
  endif()
endif()
tarnscsi_decide(TESTS "the tests (tests/)" "${remedy}" ${missing})
unset(missing)
unset(remedy)

# tarnscsi_front_end_tests(<part> <what> <remedy> [<missing>...]): the tests
# of a front-end that is built run programs of their own. With
# TARNSCSI_BUILD_TESTS=ON all of them must be there; with AUTO the tests of
# that front-end are left out. Sets TARNSCSI_TEST_<part> in the caller.
function(tarnscsi_front_end_tests part what remedy)
  set(missing ${ARGN})
  set(with ON)
  if(missing)
    list(JOIN missing ", " missing_text)
    tarnscsi_is_auto(TESTS auto)
    if(NOT auto)
      message(FATAL_ERROR "TARNSCSI_BUILD_TESTS is ON, but ${what} cannot run without ${missing_text}: "
                          "${remedy}, or configure with -DTARNSCSI_BUILD_TESTS=AUTO")
    endif()
    message(STATUS "Not building ${what} (missing: ${missing_text}; ${remedy})")
    set(with OFF)
  endif()
  set(TARNSCSI_TEST_${part} ${with} PARENT_SCOPE)
endfunction()

# Called after the front-ends' folders: their tests, where they are built.
function(tarnscsi_decide_front_end_tests)
  set(TARNSCSI_TEST_TOOLS OFF PARENT_SCOPE)
  set(TARNSCSI_TEST_INDI OFF PARENT_SCOPE)
  set(TARNSCSI_TEST_ALPACA OFF PARENT_SCOPE)
  if(NOT TARNSCSI_WITH_TESTS)
    return()
  endif()
  if(TARGET tarnscsi_tool_lib)
    set(missing)
    find_program(FITSVERIFY_EXECUTABLE fitsverify)
    if(NOT FITSVERIFY_EXECUTABLE)
      list(APPEND missing "fitsverify")
    endif()
    tarnscsi_front_end_tests(TOOLS "the tool's tests (tests/tools/)" "run scripts/install-deps.sh tools" ${missing})
    set(TARNSCSI_TEST_TOOLS ${TARNSCSI_TEST_TOOLS} PARENT_SCOPE)
  endif()
  if(TARGET indi_tarnscsi_ccd)
    set(missing)
    find_program(TARNSCSI_INDISERVER indiserver)
    find_program(TARNSCSI_INDI_SIMULATOR_CCD indi_simulator_ccd)
    if(NOT TARNSCSI_INDISERVER OR NOT TARNSCSI_INDI_SIMULATOR_CCD)
      list(APPEND missing "indiserver and indi_simulator_ccd (indi-bin)")
    endif()
    find_library(TARNSCSI_INDI_CLIENT_LIBRARY indiclient)
    if(NOT TARNSCSI_INDI_CLIENT_LIBRARY)
      list(APPEND missing "libindiclient (libindi-dev)")
    endif()
    tarnscsi_missing_pkg_config(missing cfitsio "cfitsio through pkg-config (libcfitsio-dev)")
    tarnscsi_front_end_tests(INDI "the INDI driver's tests (tests/indi/)" "run scripts/install-deps.sh indi"
                             ${missing})
    set(TARNSCSI_TEST_INDI ${TARNSCSI_TEST_INDI} PARENT_SCOPE)
  endif()
  # On Windows the server's tests are the Linux build's (tests/windows/).
  if(TARGET tarnscsi_alpaca_lib AND NOT WIN32)
    set(missing)
    tarnscsi_missing_pkg_config(missing cpp-httplib "cpp-httplib through pkg-config (libcpp-httplib-dev)")
    tarnscsi_front_end_tests(ALPACA "the Alpaca server's tests (tests/alpaca/)" "run scripts/install-deps.sh alpaca"
                             ${missing})
    set(TARNSCSI_TEST_ALPACA ${TARNSCSI_TEST_ALPACA} PARENT_SCOPE)
  endif()
endfunction()
