# find_package(GTest) for the Windows cross build. Debian has GoogleTest as
# Linux libraries (libgtest-dev) and as sources (googletest, in
# /usr/src/googletest); the sources are built here with the cross compiler,
# once per build tree, and give the usual targets GTest::gtest and
# GTest::gtest_main.
set(GTEST_SOURCE_DIR /usr/src/googletest/googletest CACHE PATH "GoogleTest sources for the cross build")

if(NOT TARGET GTest::gtest_main AND EXISTS ${GTEST_SOURCE_DIR}/CMakeLists.txt)
  # Windows threads, not winpthreads; nothing of it is installed.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

include(FindPackageHandleStandardArgs)
if(TARGET GTest::gtest_main)
  set(GTEST_BUILT_FROM_SOURCE ${GTEST_SOURCE_DIR})
endif()
find_package_handle_standard_args(GTest
  REQUIRED_VARS GTEST_BUILT_FROM_SOURCE
  REASON_FAILURE_MESSAGE "install Debian's googletest (scripts/install-windows-deps.sh)")
