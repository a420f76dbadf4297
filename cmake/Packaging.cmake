# Packages from the installed components: Debian packages on Linux
# (scripts/package.sh, or `cpack -G DEB` in a build configured with
# CMAKE_INSTALL_PREFIX=/usr), a zip of the DLL on Windows
# (`cmake --build <build> --target windows_zip`). Included last, once every
# component has its install rules.
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
  # TARNSCSI.dll with the licence and how to install it; its debug
  # information in a zip of its own.
  set(zip_root tarnscsi-${PROJECT_VERSION}-win32)
  set(stage ${CMAKE_BINARY_DIR}/packages/${zip_root})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/INSTALL.txt ${CMAKE_BINARY_DIR}/packages/INSTALL.txt @ONLY
    NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/packages/LICENSE.txt COPYONLY)
  add_custom_target(windows_zip
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tarnscsi> ${CMAKE_BINARY_DIR}/packages/INSTALL.txt
            ${CMAKE_BINARY_DIR}/packages/LICENSE.txt ${stage}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${zip_root}.zip --format=zip ${zip_root}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tarnscsi>.debug .
    COMMAND ${CMAKE_COMMAND} -E tar cf ${zip_root}-debug.zip --format=zip $<TARGET_FILE_NAME:tarnscsi>.debug
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/packages
    DEPENDS tarnscsi
    COMMENT "Packing packages/${zip_root}.zip"
    VERBATIM)
endif()

include(CPack)
