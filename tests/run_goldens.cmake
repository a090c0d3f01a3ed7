# Runs boxwalk, under EMULATOR when given, on the input of every golden
# output in tests/golden, from inside the input's folder so that the file
# line shows the bare name, and checks standard output byte for byte, an
# empty standard error and status 0. The first line of a golden output
# names its input, found in samples/, tests/fixtures/ or fuzz/corpus/.
# cmake [-DEMULATOR=...] -DBOXWALK=... -DSOURCE_DIR=... -DOUTPUT=dir -P run_goldens.cmake
file(GLOB goldens ${SOURCE_DIR}/tests/golden/*.out)
if(NOT goldens)
  message(FATAL_ERROR "no golden outputs in ${SOURCE_DIR}/tests/golden")
endif()
file(MAKE_DIRECTORY ${OUTPUT})
set(failures "")
foreach(golden ${goldens})
  get_filename_component(case ${golden} NAME_WE)
  file(READ ${golden} head LIMIT 256)
  if(NOT head MATCHES "^\\[boxwalk\\] File: ([^\n/]+)\n")
    string(APPEND failures "${case}: the first line names no input\n")
    continue()
  endif()
  set(name ${CMAKE_MATCH_1})
  set(folder "")
  foreach(candidate samples tests/fixtures fuzz/corpus)
    if(EXISTS ${SOURCE_DIR}/${candidate}/${name})
      set(folder ${SOURCE_DIR}/${candidate})
      break()
    endif()
  endforeach()
  if(NOT folder)
    string(APPEND failures "${case}: input ${name} not found\n")
    continue()
  endif()
  execute_process(COMMAND ${EMULATOR} ${BOXWALK} ${name}
    WORKING_DIRECTORY ${folder}
    OUTPUT_FILE ${OUTPUT}/${case}.out
    ERROR_VARIABLE err
    RESULT_VARIABLE status)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT}/${case}.out ${golden}
    RESULT_VARIABLE differ)
  if(NOT status STREQUAL "0" OR NOT err STREQUAL "" OR differ)
    string(APPEND failures
      "${case}: status ${status}, standard output ${OUTPUT}/${case}.out "
      "differs: ${differ}, standard error: ${err}\n")
  endif()
endforeach()
list(LENGTH goldens count)
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
message(STATUS "${count} golden outputs match")
