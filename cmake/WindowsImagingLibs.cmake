# The imaging libraries of the Windows programs: zlib, libpng and cfitsio,
# cross-built by scripts/build-windows-libs.sh into TARNSCSI_WIN32_LIBS (set
# by cmake/toolchain-i686-w64-mingw32.cmake, which also points pkg-config
# and CMake's searches there). They are found as on Linux, through
# find_package(PNG) and pkg-config's cfitsio, and give the targets
# ZLIB::ZLIB, PNG::PNG and PkgConfig::TARNSCSI_WIN32_CFITSIO; all are static
# libraries.
include_guard(GLOBAL)

if(NOT EXISTS ${TARNSCSI_WIN32_LIBS}/BUILT)
  message(FATAL_ERROR "The imaging libraries for Windows are not in ${TARNSCSI_WIN32_LIBS}: "
                      "scripts/install-windows-deps.sh builds them (scripts/build-windows-libs.sh "
                      "once Debian 12's source packages are known to apt).")
endif()
# Global targets: the file is read once (the tool's folder, the tests'), and
# every folder links them.
set(CMAKE_FIND_PACKAGE_TARGETS_GLOBAL ON)
find_package(ZLIB REQUIRED)
find_package(PNG REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(TARNSCSI_WIN32_CFITSIO REQUIRED IMPORTED_TARGET GLOBAL cfitsio)
unset(CMAKE_FIND_PACKAGE_TARGETS_GLOBAL)
# cfitsio is a static library here: it needs zlib after it on the link line.
target_link_libraries(PkgConfig::TARNSCSI_WIN32_CFITSIO INTERFACE ZLIB::ZLIB)
