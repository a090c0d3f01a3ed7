# Runs boxwalk with its standard output piped to a reader that leaves
# without reading: the run must end with status 1 and nothing on standard
# error. The listing of OUTPUT (a line per empty leaf) is more than a pipe
# holds, so boxwalk is still writing when the reader has gone.
execute_process(COMMAND sh -c "printf '\\000\\001\\070\\220moov\\000\\001\\070\\210udta'; i=0; while [ $i -lt 10000 ]; do printf '\\000\\000\\000\\010free'; i=$((i+1)); done"
  OUTPUT_FILE ${OUTPUT})
execute_process(COMMAND ${EMULATOR} ${BOXWALK} ${OUTPUT}
  COMMAND ${CMAKE_COMMAND} -E true
  ERROR_VARIABLE err
  RESULTS_VARIABLE statuses)
list(GET statuses 0 status)
if(NOT status EQUAL 1 OR NOT err STREQUAL "")
  message(FATAL_ERROR "exit status ${status}, standard error: ${err}")
endif()
