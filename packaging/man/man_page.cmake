# cmake -D PROGRAM=<program> -D HELP2MAN=<help2man> -D OUTPUT=<page.1>
#       -D NAME_LINE=<one line> -D SECTIONS=<file.h2m> [-D SUBCOMMANDS=ON]
#       -P man_page.cmake
# Writes a program's man page with help2man from its own --help and
# --version, adding the sections of SECTIONS (EXAMPLES, ENVIRONMENT, FILES,
# ...) and, with SUBCOMMANDS, a section with each subcommand's own --help.

# Roff text of a help output: verbatim lines, with backslashes and leading
# control characters escaped.
function(roff_verbatim text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} ".nf\n${text}\n.fi\n" PARENT_SCOPE)
endfunction()

get_filename_component(name ${OUTPUT} NAME_WE)
set(include "")
if(SUBCOMMANDS)
  execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${PROGRAM} --help failed (${failed})")
  endif()
  # CLI11 lists them under "Subcommands:", one per line, indented by two.
  string(REGEX MATCH "\nSubcommands:\n(  [^\n]*\n)+" listing "${help}")
  string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*" subcommands "${listing}")
  if(NOT subcommands)
    message(FATAL_ERROR "${PROGRAM} --help lists no subcommands")
  endif()
  set(include "[COMMANDS]\n")
  foreach(entry IN LISTS subcommands)
    string(STRIP "${entry}" subcommand)
    execute_process(COMMAND ${PROGRAM} ${subcommand} --help OUTPUT_VARIABLE sub_help RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "${PROGRAM} ${subcommand} --help failed (${failed})")
    endif()
    roff_verbatim("${sub_help}" text)
    string(APPEND include ".SS \"${name} ${subcommand}\"\n${text}")
  endforeach()
endif()
file(READ ${SECTIONS} sections)
string(APPEND include "${sections}")
set(include_file ${OUTPUT}.h2m)
file(WRITE ${include_file} "${include}")

# help2man runs the program through the shell, its path unquoted: so from
# the program's own folder, by a name that no space in that path can split.
get_filename_component(program_dir ${PROGRAM} DIRECTORY)
get_filename_component(program_name ${PROGRAM} NAME)
execute_process(
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1 "--name=${NAME_LINE}"
          --include=${include_file} --output=${OUTPUT} ./${program_name}
  WORKING_DIRECTORY ${program_dir}
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "help2man failed for ${PROGRAM} (${failed})")
endif()
