# Programs built against the installation only, once with find_package and
# once with pkg-config, run on the installed simulator: the module's C
# functions (the simulator put first on the library path) and the C++ API
# (the simulator named by its path).
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(simulator_dir ${PREFIX}/${LIBDIR}/tarnscsi/simulator)
set(clean_env ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH --unset=TARNSCSI_SIMULATOR --unset=TARNSCSI_TRACE)

# step(<what> <command>...): runs the command in WORK; stops on failure.
function(step what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE failed OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(failed)
    message(FATAL_ERROR "${what} failed (${failed}):\n${output}")
  endif()
  set(step_output "${output}" PARENT_SCOPE)
endfunction()

# expect_connected(<what> <command>...): the consumer found the simulated camera.
function(expect_connected what)
  step("${what}" ${clean_env} ${ARGN})
  if(NOT step_output MATCHES "^Connected")
    message(SEND_ERROR "${what}: ${step_output}")
  endif()
endfunction()

# find_package: the package of the installation, not another one.
step("configuring the find_package consumer" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK}/cmake
     -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
     -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF "-DCMAKE_C_FLAGS=${C_FLAGS}" "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
     "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}")
file(STRINGS ${WORK}/cmake/CMakeCache.txt package_dir REGEX "^tarnscsi_DIR:")
if(NOT package_dir STREQUAL "tarnscsi_DIR:PATH=${PREFIX}/${LIBDIR}/cmake/tarnscsi")
  message(SEND_ERROR "find_package found another tarnscsi: ${package_dir}")
endif()
step("building the find_package consumer" ${CMAKE_COMMAND} --build ${WORK}/cmake)
expect_connected("module_consumer (find_package)" LD_LIBRARY_PATH=${simulator_dir} ${WORK}/cmake/module_consumer)
expect_connected("api_consumer (find_package)" ${WORK}/cmake/api_consumer ${simulator_dir}/libwnaspi32.so)

# pkg-config: only the installation's .pc file is visible.
step("pkg-config --cflags --libs tarnscsi" ${CMAKE_COMMAND} -E env PKG_CONFIG_LIBDIR=${PREFIX}/${LIBDIR}/pkgconfig
     PKG_CONFIG_PATH= pkg-config --cflags --libs tarnscsi)
string(STRIP "${step_output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
separate_arguments(build_flags UNIX_COMMAND "${C_FLAGS} ${LINK_FLAGS}")
step("building the pkg-config consumer" ${C_COMPILER} ${build_flags} ${CONSUMER_DIR}/module_consumer.c ${flags}
     -Wl,-rpath,${PREFIX}/${LIBDIR} -o ${WORK}/pc_consumer)
expect_connected("module_consumer (pkg-config)" LD_LIBRARY_PATH=${simulator_dir} ${WORK}/pc_consumer)
