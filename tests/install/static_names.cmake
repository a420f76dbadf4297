# The installed C++ library (libtarnscsi_cpp.a) defines its names inside the
# tarnscsi namespace only. Above all it defines no Win32 name: the POSIX
# stand-ins for the kernel services are the module's own, and a program that
# links the library beside Wine's headers or another Win32 layer must not
# meet a second LoadLibraryA or CloseHandle.
cmake_minimum_required(VERSION 3.25)

set(library ${PREFIX}/${LIBDIR}/libtarnscsi_cpp.a)
if(NOT EXISTS ${library})
  message(FATAL_ERROR "${library} is not installed")
endif()
execute_process(COMMAND ${NM} -C --defined-only ${library}
                OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${library}: ${errors}")
endif()

set(win32_names LoadLibraryA GetProcAddress FreeLibrary CreateEventA ResetEvent WaitForSingleObject CloseHandle)
list(JOIN win32_names "|" win32_pattern)

string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(problems "")
set(strong 0)
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; lower-case types are local to their object.
  if(NOT line MATCHES "^[0-9a-fA-F]+ ([A-Z]) (.+)$")
    continue()
  endif()
  set(type ${CMAKE_MATCH_1})
  set(name "${CMAKE_MATCH_2}")
  if(name MATCHES "^__(odr_asan|asan_|tsan_|ubsan_|sancov_)")
    # Written by the sanitizers' instrumentation beside each global of an
    # instrumented build, not names of the library.
    continue()
  elseif(name MATCHES "^(${win32_pattern})(\\(|$)")
    string(APPEND problems "  a Win32 name, defined globally: ${type} ${name}\n")
  elseif(type MATCHES "^[TDBR]$")
    math(EXPR strong "${strong} + 1")
    # Templates the library instantiates (std::...) are weak; a strong
    # definition is the library's own and belongs in its namespace, with
    # its type information and tables.
    if(NOT name MATCHES "^([a-zA-Z ]+ for )?tarnscsi::")
      string(APPEND problems "  outside the tarnscsi namespace: ${type} ${name}\n")
    endif()
  endif()
endforeach()
if(strong EQUAL 0)
  message(FATAL_ERROR "no definitions read from ${library}: is ${NM} the right tool?")
endif()
if(problems)
  message(FATAL_ERROR "${library} defines names it must not:\n${problems}")
endif()
message(STATUS "${strong} definitions in ${library}, all in the tarnscsi namespace")
