# Where the installed pieces go (GNUInstallDirs, relative to the prefix, so
# that `cmake --install --prefix` and DESTDIR both work), and how the module
# and the programs find the ASPI managers there without LD_LIBRARY_PATH.
#
#   <bindir>/tarnscsi, indi_tarnscsi_ccd
#   <libdir>/libtarnscsi.so.0             the module (RUNPATH $ORIGIN/tarnscsi)
#   <libdir>/tarnscsi/libwnaspi32.so       the real manager, private to us
#   <libdir>/tarnscsi/simulator/libwnaspi32.so   the simulated camera
#
# Components: runtime (what a camera user needs), dev (headers, pkg-config,
# CMake package, the C++ API) and one per front-end (indi, ...), for
# `cmake --install --component`; the Debian packages (debian/*.install) split
# the installation their own way.
include(GNUInstallDirs)

# The real manager sits in a private folder: "libwnaspi32.so" is a generic
# name that no system library folder should get from us, and the ordinary
# library search must not find the simulator either. The module and our
# programs reach it through their RUNPATH, which the dynamic linker consults
# after LD_LIBRARY_PATH: a manager there still takes precedence.
set(TARNSCSI_INSTALL_MANAGER_DIR ${CMAKE_INSTALL_LIBDIR}/tarnscsi)
# Where tarnscsi::FindSimulator looks (src/api/manager_choice.cpp).
set(TARNSCSI_INSTALL_SIMULATOR_DIR ${CMAKE_INSTALL_LIBDIR}/tarnscsi/simulator)
set(TARNSCSI_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tarnscsi)

if(WIN32)
  # The DLL's version resource (packaging/windows/tarnscsi.rc.in).
  enable_language(RC)
endif()

# tarnscsi_manager_runpath(<target> <install dir>): <target>, installed to
# <install dir> (relative to the prefix), finds the real manager through its
# RUNPATH, whatever the prefix. Only the object that calls dlopen needs it:
# the module, or a program with the C++ API linked in.
function(tarnscsi_manager_runpath target install_dir)
  if(WIN32 OR APPLE)
    return()
  endif()
  file(RELATIVE_PATH to_manager /${install_dir} /${TARNSCSI_INSTALL_MANAGER_DIR})
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "\$ORIGIN/${to_manager}")
  # DT_RUNPATH, not the old DT_RPATH, which would win over LD_LIBRARY_PATH.
  target_link_options(${target} PRIVATE "LINKER:--enable-new-dtags")
endfunction()

# tarnscsi_install_program(<target> COMPONENT <component>): a program of ours
# in <bindir>, finding the real manager as the module does.
function(tarnscsi_install_program target)
  cmake_parse_arguments(ARG "" "COMPONENT" "" ${ARGN})
  tarnscsi_manager_runpath(${target} ${CMAKE_INSTALL_BINDIR})
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${ARG_COMPONENT})
endfunction()

set(TARNSCSI_COPYRIGHT "Copyright (c) 2026 The tarnscsi developers")

# tarnscsi_windows_release(<target> <description>): the DLL's version
# resource (product, version, <description>, copyright), and outside Debug
# builds its debug information moved to <file>.debug next to it (found by
# debuggers through the .gnu_debuglink section), the DLL itself stripped.
function(tarnscsi_windows_release target description)
  get_target_property(module_name ${target} OUTPUT_NAME)
  set(module_file ${module_name}.dll)
  set(TARNSCSI_DESCRIPTION "${description}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/tarnscsi.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  if(CMAKE_BUILD_TYPE STREQUAL "Debug" OR NOT CMAKE_OBJCOPY)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug
            $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Moving the debug information of ${target} to a separate file"
    VERBATIM)
endfunction()
