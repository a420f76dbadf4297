# tarnscsi.exe under Wine against the simulated manager beside it: an
# exposure writes a FITS file fitsverify accepts, with the header the Linux
# tool writes (the cards below, the dates aside) and a PNG preview; a missing
# folder, a name Windows refuses (a character, a device's name, a last dot)
# and a folder with letters outside ASCII are refused before the camera is
# touched, a read that fails ends in exit code 1,
# and none of them leaves a file behind; the program imports only KERNEL32.dll
# and msvcrt.dll, and from them only what Windows 7 SP1 has.
#   cmake -D WINE=<wine> -D PROGRAM=<tarnscsi.exe> -D FITSVERIFY=<fitsverify>
#         -D OBJDUMP=<objdump> -D TABLES=<check_dll_tables.cmake>
#         -D XP_EXPORTS=<xp_exports folder> -D VERSION=<version> -D DIR=<dir>
#         -P tool_check.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/written_files_checks.cmake)

# The header of `expose 1 --object M42` as the Linux tool writes it.
set(expected_cards
  "SIMPLE  =                    T / file does conform to FITS standard"
  "BITPIX  =                   16 / number of bits per data pixel"
  "NAXIS   =                    2 / number of data axes"
  "NAXIS1  =                  768 / length of data axis 1"
  "NAXIS2  =                  512 / length of data axis 2"
  "EXTEND  =                    T / FITS dataset may contain extensions"
  "COMMENT   FITS (Flexible Image Transport System) format is defined in 'Astronomy"
  "COMMENT   and Astrophysics', volume 376, page 359; bibcode: 2001A&A...376..359H"
  "BZERO   =                32768 / offset data range to that of unsigned short"
  "BSCALE  =                    1 / default scaling factor"
  "EXPTIME =                1.000 / [s] exposure time"
  "CCD-TEMP=                 20.0 / [C] sensor at start of exposure"
  "XBINNING=                    1 / binning factor in width"
  "YBINNING=                    1 / binning factor in height"
  "XORGSUBF=                    0 / subframe X origin in binned pixels"
  "YORGSUBF=                    0 / subframe Y origin in binned pixels"
  "XPIXSZ  =                 9.00 / [um] pixel width after binning"
  "YPIXSZ  =                 9.00 / [um] pixel height after binning"
  "INSTRUME= 'Nebrix  '           / camera"
  "IMAGETYP= 'Light Frame'        / type of image"
  "ROWORDER= 'TOP-DOWN'           / first row is the top of the frame"
  "OBJECT  = 'M42     '           / name of the object observed"
  "END")

file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR})

# tool(<expected exit code> <settings of the simulator> <arguments>...):
# runs the tool in DIR; `out` gets what it said on stderr.
function(tool expected settings)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TARNSCSI_SIM=${settings} LC_ALL=C.UTF-8
                          ${WINE} ${PROGRAM} ${ARGN}
    WORKING_DIRECTORY ${DIR} RESULT_VARIABLE result OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
  if(NOT result EQUAL expected)
    message(FATAL_ERROR "tarnscsi ${ARGN}: exit code ${result}, not ${expected}\n${stdout}${stderr}")
  endif()
  set(out "${stderr}" PARENT_SCOPE)
endfunction()

# expect_only(<names>...): DIR holds these files and no others (no temporary).
function(expect_only)
  file(GLOB_RECURSE present LIST_DIRECTORIES false RELATIVE ${DIR} ${DIR}/* ${DIR}/.*)
  list(SORT present)
  set(wanted ${ARGN})
  list(SORT wanted)
  if(NOT present STREQUAL wanted)
    message(FATAL_ERROR "files left: '${present}', expected '${wanted}'")
  endif()
endfunction()

function(expect_said text)
  string(FIND "${out}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the tool did not say \"${text}\":\n${out}")
  endif()
endfunction()

tool(0 time-scale=0 expose 1 -o frame.fits --preview frame.png --object M42 -q)
expect_only(frame.fits frame.png)
expect_fits_verified(frame.fits "the tool's FITS file")
# The header: 80-character cards up to END, the dates and the version left
# out (the version checked alone).
file(READ ${DIR}/frame.fits header LIMIT 2880)
set(cards)
foreach(at RANGE 0 2799 80)
  string(SUBSTRING "${header}" ${at} 80 card)
  string(STRIP "${card}" card)
  if(card MATCHES "^SWCREATE= '([^']*)'")
    set(software "${CMAKE_MATCH_1}")
  elseif(NOT card MATCHES "^DATE")
    list(APPEND cards "${card}")
  endif()
  if(card STREQUAL "END")
    break()
  endif()
endforeach()
if(NOT cards STREQUAL expected_cards)
  string(REPLACE ";" "\n" cards "${cards}")
  message(FATAL_ERROR "the FITS header differs from the Linux tool's:\n${cards}")
endif()
if(NOT software STREQUAL "tarnscsi ${VERSION}")
  message(FATAL_ERROR "SWCREATE is '${software}', not 'tarnscsi ${VERSION}'")
endif()
expect_png(frame.png)

# Refused before the camera is touched (usage: exit code 2), nothing written.
tool(2 time-scale=0 expose 1 -o nowhere/frame.fits)
expect_said("folder nowhere does not exist")
tool(2 time-scale=0 expose 1 -o "frame?.fits")
expect_said("Windows file names cannot contain ?")
file(MAKE_DIRECTORY "${DIR}/Bilder-ü")
tool(2 time-scale=0 expose 1 -o "Bilder-ü/frame.fits")
expect_said("only under paths of ASCII letters")
# A device's name, in any case, with an extension, as a folder or from a
# counter, and a name Windows would store without its last dot: the frame
# would be exposed, then lost.
tool(2 time-scale=0 expose 1 -o CON)
expect_said("CON: Windows keeps the name CON for a device")
tool(2 time-scale=0 expose 1 -n 2 -o "Com%d.fits")
expect_said("Com1.fits: Windows keeps the name Com1.fits for a device")
tool(2 time-scale=0 expose 1 -o "sub\\aux\\frame.fits")
expect_said("Windows keeps the name aux for a device")
tool(2 time-scale=0 expose 1 -o "frame.")
expect_said("Windows drops the dot at the end of 'frame.'")
tool(2 time-scale=0 expose 1 -o kept.fits --preview nul)
expect_said("nul: Windows keeps the name nul for a device")
# The camera fails during the download: exit code 1, no file, no temporary.
tool(1 time-scale=0,fault=read:10:1:check expose 1 -o failed.fits --preview failed.png)
expect_said("READ(10): CHECK CONDITION")
expect_only(frame.fits frame.png)

# Windows 7 SP1 has everything Windows XP SP3 has, and GetTickCount64 (from
# Vista on; the posix-model runtime's winpthreads imports it).
file(READ ${XP_EXPORTS}/kernel32.txt kernel32)
file(WRITE ${DIR}/kernel32-win7.txt "${kernel32}\nGetTickCount64\n")
execute_process(COMMAND ${CMAKE_COMMAND} -D OBJDUMP=${OBJDUMP} -D DLL=${PROGRAM} -D EXPORTS=
                        "-D IMPORTS=KERNEL32.dll;msvcrt.dll" -D OTHER_EXPORTS=ON
                        "-D ALLOWED=KERNEL32.dll=${DIR}/kernel32-win7.txt;msvcrt.dll=${XP_EXPORTS}/msvcrt.txt"
                        -P ${TABLES}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} imports what Windows 7 SP1 lacks (above)")
endif()
message(STATUS "tarnscsi.exe: FITS and PNG written and accepted, failures leave nothing, imports fit Windows 7 SP1")
