# Packages from the installed components: Debian packages on Linux
# (scripts/package.sh, or `cpack -G DEB` in a build configured with
# CMAKE_INSTALL_PREFIX=/usr), a zip of the DLL and the programs on Windows
# (scripts/package.sh windows, or `cmake --build <build> --target
# windows_zip`). Included last, once every component has its install rules
# and every target exists.
set(CPACK_PACKAGE_NAME tarnscsi)
set(CPACK_PACKAGE_VENDOR "The tarnscsi developers")
set(CPACK_PACKAGE_CONTACT "The tarnscsi developers <tarnscsi@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Driver and tools for the cooled SCSI camera")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Each package's dependencies are worked out from its binaries by
# dpkg-shlibdeps (dpkg-dev); those between our packages come from
# tarnscsi_package(... DEPENDS ...).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# Our own libraries (the module's real and simulated managers, private
# folders) are in the packages themselves: dpkg-shlibdeps finds them there.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.invalid/tarnscsi")
set(CPACK_COMPONENTS_ALL "")

# tarnscsi_package(<component> <package name> <summary> [DEPENDS <component>...])
# One Debian package from the install rules of <component>; it depends on
# the packages of the listed components at exactly this version. Nothing when
# <component> has no install rules (its part is not built).
function(tarnscsi_package component package summary)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  get_cmake_property(installed COMPONENTS)
  if(NOT component IN_LIST installed)
    return()
  endif()
  string(TOUPPER ${component} upper)
  set(CPACK_COMPONENTS_ALL ${CPACK_COMPONENTS_ALL} ${component} PARENT_SCOPE)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package} PARENT_SCOPE)
  set(CPACK_COMPONENT_${upper}_DESCRIPTION "${summary}" PARENT_SCOPE)
  set(CPACK_COMPONENT_${upper}_DEPENDS ${ARG_DEPENDS} PARENT_SCOPE)
endfunction()

# One line per package.
tarnscsi_package(runtime tarnscsi "Driver for the cooled SCSI camera: the tarnscsi tool, \
libtarnscsi.so.0, the ASPI managers (SCSI generic and simulated camera), man page, completion and udev rule")
tarnscsi_package(dev tarnscsi-dev "Development files for tarnscsi: headers, pkg-config file, \
CMake package (tarnscsi::tarnscsi, and the C++ API as tarnscsi::cpp)" DEPENDS runtime)
tarnscsi_package(indi indi-tarnscsi "INDI driver for the cooled SCSI camera (indi_tarnscsi_ccd), for KStars/Ekos"
  DEPENDS runtime)
tarnscsi_package(alpaca tarnscsi-alpaca "ASCOM Alpaca server for the cooled SCSI camera (tarnscsi-alpaca), \
with its systemd unit" DEPENDS runtime)

if(WIN32)
  # The Windows zip: TARNSCSI.dll and the programs built here side by side,
  # the simulated manager in simulator/ (only --simulate loads it), how to
  # install, and the licences: ours, and those of the libraries compiled into
  # the programs. The debug information in a zip of its own. A program is
  # packed when its target exists (this file is read after every folder).
  set(zip_root tarnscsi-${PROJECT_VERSION}-win32)
  set(packages ${CMAKE_BINARY_DIR}/packages)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/INSTALL.txt ${packages}/INSTALL.txt @ONLY
    NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${packages}/LICENSE.txt COPYONLY)
  set(zip_files $<TARGET_FILE:tarnscsi> ${packages}/INSTALL.txt ${packages}/LICENSE.txt)
  set(zip_licenses)
  set(zip_programs)
  foreach(program IN ITEMS tarnscsi_tool tarnscsi_alpaca)
    if(TARGET ${program})
      list(APPEND zip_programs ${program})
      list(APPEND zip_files $<TARGET_FILE:${program}>)
    endif()
  endforeach()
  if(zip_programs)
    # Both programs write FITS and PNG files (imaging/).
    foreach(library IN ITEMS zlib libpng cfitsio)
      list(APPEND zip_licenses ${library}=${TARNSCSI_WIN32_LIBS}/licenses/${library}.txt)
    endforeach()
  endif()
  if(TARGET tarnscsi_alpaca)
    # Asio and Beast are headers compiled into the server.
    list(APPEND zip_licenses boost=${PROJECT_SOURCE_DIR}/packaging/windows/licenses/boost.txt)
  endif()
  list(JOIN zip_files "|" zip_files)
  list(JOIN zip_licenses "|" zip_licenses)
  set(zip_args -D ROOT=${zip_root} -D FILES=${zip_files} -D SIMULATOR=$<TARGET_FILE:wnaspi32_sim>
               -D LICENSES=${zip_licenses} -D OBJCOPY=${CMAKE_OBJCOPY})
  add_custom_target(windows_zip
    COMMAND ${CMAKE_COMMAND} -D OUT=${packages} ${zip_args} -P ${PROJECT_SOURCE_DIR}/cmake/WindowsZip.cmake
    DEPENDS tarnscsi wnaspi32_sim ${zip_programs}
    COMMENT "Packing packages/${zip_root}.zip"
    VERBATIM)
  if(TARNSCSI_WITH_TESTS)
    # The same packing into a folder of the test's own, and its layout
    # checked: the programs built here are there, the simulator only in
    # simulator/.
    set(zip_names ${zip_programs})
    list(TRANSFORM zip_names REPLACE "^tarnscsi_tool$" "tarnscsi.exe")
    list(TRANSFORM zip_names REPLACE "^tarnscsi_alpaca$" "tarnscsi-alpaca.exe")
    list(JOIN zip_names "|" zip_names)
    add_test(NAME win32.zip_layout
      COMMAND ${CMAKE_COMMAND} -D OUT=${CMAKE_BINARY_DIR}/tests/zip ${zip_args}
              -D PROGRAMS=${zip_names} -D CHECK_SCRIPT=${PROJECT_SOURCE_DIR}/cmake/WindowsZip.cmake
              -P ${PROJECT_SOURCE_DIR}/tests/windows/zip_layout_check.cmake)
  endif()
endif()

include(CPack)
