# Packs the Windows zip (cmake -P), for the windows_zip target and its test:
#   <OUT>/<ROOT>.zip        <ROOT>/ with FILES, licenses/ with LICENSES and
#                           simulator/ with SIMULATOR
#   <OUT>/<ROOT>-debug.zip  the .debug files of the binaries that have one
# FILES and LICENSES are lists joined with "|"; a license is <name>=<file>
# and is packed as licenses/<name>.txt. A binary (.dll, .exe) without a
# <file>.debug beside it is packed with its debug information stripped
# (OBJCOPY --strip-all); the build tree's file stays as it is.
foreach(variable OUT ROOT FILES SIMULATOR OBJCOPY)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "WindowsZip.cmake: ${variable} is not set")
  endif()
endforeach()
string(REPLACE "|" ";" files "${FILES}")
string(REPLACE "|" ";" licenses "${LICENSES}")

set(stage ${OUT}/${ROOT})
file(REMOVE_RECURSE ${stage} ${OUT}/${ROOT}.zip ${OUT}/${ROOT}-debug.zip ${OUT}/debug)
file(MAKE_DIRECTORY ${stage}/simulator ${OUT}/debug)

set(debug_files)
# stage(<file> <folder in the zip>)
function(stage file folder)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "WindowsZip.cmake: ${file} is missing")
  endif()
  get_filename_component(name ${file} NAME)
  file(COPY ${file} DESTINATION ${stage}/${folder})
  if(NOT name MATCHES "\\.(dll|exe)$")
    return()
  endif()
  if(EXISTS ${file}.debug)
    file(COPY ${file}.debug DESTINATION ${OUT}/debug)
    set(debug_files ${debug_files} ${name}.debug PARENT_SCOPE)
  else()
    execute_process(COMMAND ${OBJCOPY} --strip-all ${stage}/${folder}/${name} RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "WindowsZip.cmake: cannot strip ${stage}/${folder}/${name}")
    endif()
  endif()
endfunction()

foreach(file IN LISTS files)
  stage(${file} .)
endforeach()
# Only `--simulate` loads the simulated manager, from its own folder:
# beside the programs or an application's DLL it would stand in for the
# real manager.
stage(${SIMULATOR} simulator)
foreach(license IN LISTS licenses)
  string(REGEX REPLACE "=.*" "" name "${license}")
  string(REGEX REPLACE "^[^=]*=" "" file "${license}")
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "WindowsZip.cmake: the licence ${file} is missing")
  endif()
  configure_file(${file} ${stage}/licenses/${name}.txt COPYONLY)
endforeach()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ROOT}.zip --format=zip ${ROOT} WORKING_DIRECTORY ${OUT}
                RESULT_VARIABLE failed)
if(NOT failed AND debug_files)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ../${ROOT}-debug.zip --format=zip ${debug_files}
                  WORKING_DIRECTORY ${OUT}/debug RESULT_VARIABLE failed)
endif()
if(failed)
  message(FATAL_ERROR "WindowsZip.cmake: cannot pack ${OUT}/${ROOT}.zip")
endif()
