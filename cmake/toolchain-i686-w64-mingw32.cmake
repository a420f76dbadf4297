# Cross-compiles the 32-bit Windows build (i686, PE32) with Debian's mingw-w64
# GCC and runs the resulting test programs under Wine.
#
#   scripts/install-windows-deps.sh
#   cmake --preset win32 && cmake --build --preset win32 -j2
#   ctest --preset win32
#
# Packages: g++-mingw-w64-i686-posix, g++-mingw-w64-i686-win32, wine,
# wine32:i386; install-windows-deps.sh also builds the imaging libraries
# (scripts/build-windows-libs.sh).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(MINGW_TRIPLET i686-w64-mingw32)

# Debian ships GCC 12 for mingw-w64 in two thread models. The "posix" one
# has std::thread, std::mutex and std::condition_variable on winpthreads,
# which the simulator and the test programs use. Linked statically,
# winpthreads imports GetTickCount64, which Windows has only from Vista on,
# and libgcc's unwinder and libstdc++ pull it in even into a program that
# starts no thread. The "win32" one has none of those classes and imports
# nothing XP lacks, so TARNSCSI.dll is built with it, in a build of its own
# (cmake/WindowsModule.cmake), and everything else with "posix".
# TARNSCSI_MINGW_THREADS chooses; the suffixed names keep the choice
# independent of update-alternatives.
if(NOT DEFINED TARNSCSI_MINGW_THREADS)
  set(TARNSCSI_MINGW_THREADS posix)
endif()
# CMake's compiler checks run in projects of their own that read this file
# again: they must see the same choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARNSCSI_MINGW_THREADS)
find_program(CMAKE_C_COMPILER   NAMES ${MINGW_TRIPLET}-gcc-${TARNSCSI_MINGW_THREADS} REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${MINGW_TRIPLET}-g++-${TARNSCSI_MINGW_THREADS} REQUIRED)
find_program(CMAKE_RC_COMPILER  NAMES ${MINGW_TRIPLET}-windres)

# The imaging libraries (zlib, libpng, cfitsio) cross-built by
# scripts/build-windows-libs.sh, in its prefix.
get_filename_component(tarnscsi_source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(TARNSCSI_WIN32_LIBS "${tarnscsi_source_dir}/build/win32-libs/prefix"
    CACHE PATH "Prefix of the imaging libraries cross-built for Windows (scripts/build-windows-libs.sh)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARNSCSI_WIN32_LIBS)

# Debian's header-only C++ libraries serve the Windows programs too: Boost
# (Asio and Beast; no compiled Boost library is used), CLI11 and
# nlohmann-json. /usr itself cannot be a find root (its Linux headers and
# libraries would be found for Windows), so a folder of the source tree's
# build/ holds links to exactly those headers and CMake packages, laid out as
# a prefix, and is the only root on the host's side.
set(tarnscsi_host_headers "${tarnscsi_source_dir}/build/win32-host-headers")
foreach(link IN ITEMS include/boost include/CLI include/nlohmann share/cmake/CLI11 share/cmake/nlohmann_json)
  if(EXISTS /usr/${link} AND NOT IS_SYMLINK ${tarnscsi_host_headers}/${link})
    get_filename_component(link_dir ${tarnscsi_host_headers}/${link} DIRECTORY)
    file(MAKE_DIRECTORY ${link_dir})
    file(CREATE_LINK /usr/${link} ${tarnscsi_host_headers}/${link} SYMBOLIC)
  endif()
endforeach()

# Headers and libraries come only from the mingw sysroot, that prefix and
# the header-only libraries above; build tools from the host. pkg-config
# reads only the prefix's .pc files, never the host's Linux ones.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET} ${TARNSCSI_WIN32_LIBS} ${tarnscsi_host_headers})
# FindBoost looks for the headers alone, not for Boost's Linux CMake package.
set(Boost_NO_BOOST_CMAKE ON)
set(ENV{PKG_CONFIG_LIBDIR} "${TARNSCSI_WIN32_LIBS}/lib/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})
unset(ENV{PKG_CONFIG_SYSROOT_DIR})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link the whole runtime statically: libgcc, libstdc++ and (posix model)
# winpthread. With only -static-libgcc -static-libstdc++ a posix-model binary
# still imports libwinpthread-1.dll; with -static it imports just
# KERNEL32.dll and msvcrt.dll (plus system DLLs linked on purpose), so our
# DLL works when it is copied into a directory on its own.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Windows looks for a program's DLLs in the program's own directory, not on a
# search path a test could set: programs and DLLs of this build all go to one
# directory, bin/ (a target may still name its own, like the deliberately
# broken managers, each of which sits in a directory of its own).
if(NOT DEFINED CMAKE_RUNTIME_OUTPUT_DIRECTORY)
  set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
endif()

# GoogleTest exists in Debian only as Linux libraries and as sources; the
# find module in cmake/cross/ builds the sources with this compiler.
list(PREPEND CMAKE_MODULE_PATH "${CMAKE_CURRENT_LIST_DIR}/cross")

# Test programs run under Wine. CMake puts CMAKE_CROSSCOMPILING_EMULATOR in
# front of every add_test() command that names an executable target, and
# gtest_discover_tests() runs the test binary through it to list the tests.
# It is the plain `wine` launcher found here, at configure time, and not a
# wrapper script: each test gets its Wine settings (WINEPREFIX, WINEDEBUG,
# WINEDLLOVERRIDES) from its ENVIRONMENT property, where they can be read in
# the test definition, and a target whose runs need a fixed environment
# outside ctest's control (test discovery) can override it through its own
# CROSSCOMPILING_EMULATOR property, e.g.
#   ${CMAKE_COMMAND} -E env WINEPREFIX=<dir> WINEDEBUG=-all ${WINE_EXECUTABLE}
# Without Wine the project still configures and builds; only the tests
# cannot run.
find_program(WINE_EXECUTABLE NAMES wine wine-stable)
if(WINE_EXECUTABLE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${WINE_EXECUTABLE}")
endif()
