# The installed bash completion, driven as bash drives it: subcommands and
# options come from the installed program's --help.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(completion ${PREFIX}/share/bash-completion/completions/tarnscsi)
# words typed (comma separated) | a candidate that must be offered | one that must not
set(cases
  "ex|expose|status"
  "--sim|--simulate|--json"
  "expose,1,--ov|--overwrite|--simulate"
  "status,--|--json|--overwrite"
  "cool,-5,--t|--tolerance|--type"
  "expose,1,-o,fr|frame.fits|--overwrite"
  "--trace=fr|frame.fits|--simulate")
file(TOUCH ${WORK}/frame.fits)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 words)
  list(GET fields 1 offered)
  list(GET fields 2 not_offered)
  string(REPLACE "," ";" words "${words}")
  execute_process(COMMAND bash ${SCRIPT} ${completion} ${PREFIX}/bin/tarnscsi ${words}
                  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE failed OUTPUT_VARIABLE candidates ERROR_VARIABLE errors)
  string(REPLACE "\n" ";" candidates "${candidates}")
  list(JOIN words " " typed)
  if(failed OR NOT offered IN_LIST candidates OR not_offered IN_LIST candidates)
    message(SEND_ERROR "tarnscsi ${typed}<TAB> offers \"${candidates}\" (expected ${offered}, not ${not_offered}) ${errors}")
  endif()
endforeach()
