# The Windows zip of the DLL and the programs (scripts/package.sh windows, or
# `cmake --build <build> --target windows_zip`). Included last, once every
# target exists. The Debian packages are built by debhelper from debian/
# (scripts/package.sh), from the install rules of cmake/Install.cmake.
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

