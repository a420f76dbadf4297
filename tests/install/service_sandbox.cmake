# The installed service's sandbox, as systemd rates it: an exposure of 2.0
# or lower ("OK"). The score is printed; a directive dropped or weakened
# shows as a higher one and fails here.
cmake_minimum_required(VERSION 3.25)

set(unit ${PREFIX}/lib/systemd/system/tarnscsi-alpaca.service)
execute_process(COMMAND ${ANALYZE} security --offline=yes --threshold=20 --no-pager ${unit}
                RESULT_VARIABLE failed OUTPUT_VARIABLE report ERROR_VARIABLE report)
string(REGEX MATCH "Overall exposure level for [^\n]*" score "${report}")
message(STATUS "${score}")
if(failed OR NOT score)
  message(FATAL_ERROR "systemd-analyze security rates the service above 2.0 (or could not rate it):\n${report}")
endif()
