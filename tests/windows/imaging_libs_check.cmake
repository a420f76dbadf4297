# The imaging libraries cross-built for Windows, in one program: it writes
# a FITS file and a PNG under Wine (and reads the PNG back), fitsverify on
# the host accepts the FITS file, the PNG starts with the PNG signature, and
# the program imports nothing but KERNEL32.dll and msvcrt.dll (the libraries
# and mingw's runtime linked in, as the Windows programs will be).
#   cmake -D WINE=<wine> -D PROGRAM=<exe> -D FITSVERIFY=<fitsverify>
#         -D OBJDUMP=<objdump> -D TABLES=<check_dll_tables.cmake> -D DIR=<dir>
#         -P imaging_libs_check.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/written_files_checks.cmake)

file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR})
execute_process(COMMAND ${WINE} ${PROGRAM} frame.fits frame.png WORKING_DIRECTORY ${DIR}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} under Wine ended with ${result}")
endif()

expect_fits_verified(frame.fits "the FITS file written under Wine")

expect_png(frame.png)

execute_process(COMMAND ${CMAKE_COMMAND} -D OBJDUMP=${OBJDUMP} -D DLL=${PROGRAM} -D EXPORTS=
                        "-D IMPORTS=KERNEL32.dll;msvcrt.dll" -D OTHER_EXPORTS=ON -P ${TABLES}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} imports more than KERNEL32.dll and msvcrt.dll (above)")
endif()
message(STATUS "FITS file and PNG written under Wine and accepted; imports: KERNEL32.dll, msvcrt.dll")
