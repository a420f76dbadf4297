# The header-only libraries of the Windows front-end programs: CLI11 and
# nlohmann-json from Debian's packages (libcli11-dev, nlohmann-json3-dev).
# The cross compiler must never search the host's /usr/include as a whole
# (it would take glibc's headers for mingw's), so a folder in the build tree
# holds links to just these two libraries' folders, and the targets
# CLI11::CLI11 and nlohmann_json::nlohmann_json point there.
include_guard(GLOBAL)

set(tarnscsi_header_libs ${CMAKE_BINARY_DIR}/win32-header-libs)
file(MAKE_DIRECTORY ${tarnscsi_header_libs})
foreach(pair "CLI11:CLI/CLI.hpp" "nlohmann_json:nlohmann/json.hpp")
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 name)
  list(GET pair 1 header)
  get_filename_component(folder ${header} DIRECTORY)
  if(NOT EXISTS /usr/include/${header})
    message(FATAL_ERROR "${name} for the Windows programs: /usr/include/${header} is missing "
                        "(run scripts/install-windows-deps.sh)")
  endif()
  file(CREATE_LINK /usr/include/${folder} ${tarnscsi_header_libs}/${folder} SYMBOLIC)
  if(NOT TARGET ${name}::${name})
    add_library(${name}::${name} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${name}::${name} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${tarnscsi_header_libs})
  endif()
endforeach()
