# Warnings for every target of ours: on, and errors with TARNSCSI_WERROR (off
# by default, on in every preset and so in CI).
add_library(tarnscsi_warnings INTERFACE)
if(MSVC)
  target_compile_options(tarnscsi_warnings INTERFACE /W4 $<$<BOOL:${TARNSCSI_WERROR}>:/WX>)
else()
  target_compile_options(tarnscsi_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor> -Wcast-align
    $<$<BOOL:${TARNSCSI_WERROR}>:-Werror>)
endif()
