# The fuzz build (TARNSCSI_BUILD_FUZZ, the preset fuzz): clang, with
# AddressSanitizer and UndefinedBehaviorSanitizer on every target, so that
# the module, the simulator and the fuzz targets all report. Coverage feedback
# comes from the module's code only (fuzz/CMakeLists.txt).
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "TARNSCSI_BUILD_FUZZ needs clang, which has libFuzzer: configure with "
                      "-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ (the preset fuzz does; "
                      "scripts/install-deps.sh fuzz installs it)")
endif()
set(TARNSCSI_FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(${TARNSCSI_FUZZ_SANITIZERS})
add_link_options(${TARNSCSI_FUZZ_SANITIZERS})
