# Writes the sparse files of tests/sparse (5 GiB and 64 GiB, moov first and
# last) into OUTPUT, runs boxwalk, under EMULATOR when given, on each from
# inside that folder, and checks standard output byte for byte against
# tests/sparse/NAME.out, an empty standard error and status 0: the same
# bytes on every build, 32-bit ones included. The files are removed after.
# cmake [-DEMULATOR=...] -DBOXWALK=... -DSOURCE_DIR=... -DOUTPUT=dir -P run_sparse.cmake
file(REMOVE_RECURSE ${OUTPUT})
execute_process(COMMAND bash ${SOURCE_DIR}/tests/sparse/make_sparse.sh
                        ${SOURCE_DIR}/samples/song.m4a ${OUTPUT}
                RESULT_VARIABLE made)
if(NOT made STREQUAL "0")
  message(FATAL_ERROR "make_sparse.sh failed: ${made}")
endif()
set(failures "")
foreach(name sparse-5g-first sparse-5g-last sparse-64g-first sparse-64g-last)
  execute_process(COMMAND ${EMULATOR} ${BOXWALK} ${name}.mp4
    WORKING_DIRECTORY ${OUTPUT}
    OUTPUT_FILE ${OUTPUT}/${name}.out
    ERROR_VARIABLE err
    RESULT_VARIABLE status)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT}/${name}.out
                          ${SOURCE_DIR}/tests/sparse/${name}.out
    RESULT_VARIABLE differ)
  if(NOT status STREQUAL "0" OR NOT err STREQUAL "" OR differ)
    string(APPEND failures "${name}: status ${status}, standard output ${OUTPUT}/${name}.out "
                           "differs: ${differ}, standard error: ${err}\n")
  endif()
  file(REMOVE ${OUTPUT}/${name}.mp4)
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
message(STATUS "4 sparse files match")
