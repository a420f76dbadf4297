# cmake -D TOOL=<tarnscsi> -D HELP2MAN=<help2man> -D OUTPUT=<tarnscsi.1>
#       -D WORK_DIR=<dir> -D MANAGER_DIR=<libdir>/tarnscsi -D COPYRIGHT=<text>
#       -P man_page.cmake
# Writes tarnscsi(1) with help2man from `tarnscsi --help`, adding a section
# with each subcommand's own --help, and the environment and files.

# Roff text of a help output: verbatim lines, with backslashes and leading
# control characters escaped.
function(roff_verbatim text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} ".nf\n${text}\n.fi\n" PARENT_SCOPE)
endfunction()

execute_process(COMMAND ${TOOL} --help OUTPUT_VARIABLE help RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${TOOL} --help failed (${failed})")
endif()
# CLI11 lists them under "Subcommands:", one per line, indented by two.
string(REGEX MATCH "\nSubcommands:\n(  [^\n]*\n)+" listing "${help}")
string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*" subcommands "${listing}")
if(NOT subcommands)
  message(FATAL_ERROR "${TOOL} --help lists no subcommands")
endif()

set(include "[COMMANDS]\n")
foreach(entry IN LISTS subcommands)
  string(STRIP "${entry}" name)
  execute_process(COMMAND ${TOOL} ${name} --help OUTPUT_VARIABLE sub_help RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${TOOL} ${name} --help failed (${failed})")
  endif()
  roff_verbatim("${sub_help}" text)
  string(APPEND include ".SS \"tarnscsi ${name}\"\n${text}")
endforeach()

string(APPEND include "[ENVIRONMENT]
.TP
.B TARNSCSI_SIMULATOR
The simulated camera's library to use, by its path; wins over where
\\-\\-simulate looks.
.TP
.B TARNSCSI_SIM
Settings of the simulated camera, e.g. time-scale=0.1 for ten times faster.
.TP
.B TARNSCSI_TRACE
1 to log every SCSI command to standard error, or a file to append it to.
.TP
.B TARNSCSI_SG_TIMEOUT
The kernel's time limit for each SCSI command, in seconds (default 60).
.TP
.B LD_LIBRARY_PATH
A folder holding another libwnaspi32.so, used in place of the installed manager.
[FILES]
.TP
.I ${MANAGER_DIR}/libwnaspi32.so
The ASPI manager for real cameras (SCSI generic devices /dev/sg*).
.TP
.I ${MANAGER_DIR}/simulator/libwnaspi32.so
The simulated camera, used with \\-\\-simulate.
[COPYRIGHT]
${COPYRIGHT}. MIT License.
[SEE ALSO]
.BR indiserver (1),
.BR udevadm (8)
")
set(include_file ${WORK_DIR}/tarnscsi.h2m)
file(WRITE ${include_file} "${include}")

execute_process(
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1
          "--name=control the cooled SCSI camera: cooling, exposures to FITS, status, bus scan"
          --include=${include_file} --output=${OUTPUT} ${TOOL}
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "help2man failed (${failed})")
endif()
