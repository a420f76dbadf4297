# TARNSCSI.dll for the Windows build whose compiler has the posix thread
# model (the simulator and the test programs need its std::thread). That
# model's runtime, linked into the DLL, would import GetTickCount64, which
# Windows XP lacks; so the DLL comes from a build of its own, configured from
# this source tree with the win32 thread model and TARNSCSI_MODULE_ONLY, and
# is known here as the imported target `tarnscsi`: tests link it, and
# $<TARGET_FILE:tarnscsi> names it, as if it were built here.
#
# The inner build lives in <build>/module-win32 and puts the DLL (and its
# .debug file) into this build's bin/, beside the test programs. It runs on
# every build (BUILD_ALWAYS); when nothing changed it does nothing.
include(ExternalProject)

set(module_build_dir ${CMAKE_BINARY_DIR}/module-win32)
set(module_dll ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/TARNSCSI.dll)
set(module_import_library ${module_build_dir}/src/libTARNSCSI.dll.a)

set(module_cmake_args
  -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
  -DTARNSCSI_MINGW_THREADS=win32
  -DTARNSCSI_MODULE_ONLY=ON
  -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
  -DTARNSCSI_WERROR=${TARNSCSI_WERROR}
  -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
foreach(language C CXX)
  if(CMAKE_${language}_COMPILER_LAUNCHER)
    list(APPEND module_cmake_args "-DCMAKE_${language}_COMPILER_LAUNCHER=${CMAKE_${language}_COMPILER_LAUNCHER}")
  endif()
endforeach()

ExternalProject_Add(tarnscsi_module_build
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${module_build_dir}
  PREFIX ${module_build_dir}/steps
  CMAKE_ARGS ${module_cmake_args}
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${module_dll} ${module_import_library}
  INSTALL_COMMAND "")

add_library(tarnscsi SHARED IMPORTED GLOBAL)
set_target_properties(tarnscsi PROPERTIES
  IMPORTED_LOCATION ${module_dll}
  IMPORTED_IMPLIB ${module_import_library}
  INTERFACE_INCLUDE_DIRECTORIES ${PROJECT_SOURCE_DIR}/include)
add_dependencies(tarnscsi tarnscsi_module_build)
