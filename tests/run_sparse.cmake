# Writes the sparse files of tests/sparse (5 GiB and 64 GiB, moov first and
# last) into OUTPUT, runs boxwalk, under EMULATOR when given, on each from
# inside that folder, and checks standard output byte for byte, an empty
# standard error and status 0: the same bytes on every build, 32-bit ones
# included. The tree is the sample's (tests/golden/song.out), its offsets
# moved with the moov when it is last. The files are removed after.
# cmake [-DEMULATOR=...] -DBOXWALK=... -DSOURCE_DIR=... -DOUTPUT=dir -P run_sparse.cmake
file(REMOVE_RECURSE ${OUTPUT})
execute_process(COMMAND sh ${SOURCE_DIR}/tests/sparse/make_sparse.sh
                        ${SOURCE_DIR}/samples/song.m4a ${OUTPUT}
                RESULT_VARIABLE made)
if(NOT made STREQUAL "0")
  message(FATAL_ERROR "make_sparse.sh failed: ${made}")
endif()
file(READ ${SOURCE_DIR}/tests/golden/song.out song)
string(REGEX MATCH "^[^\n]*\n[^\n]*\n" lines "${song}")
string(LENGTH "${lines}" skip)
string(SUBSTRING "${song}" ${skip} -1 tree)
set(failures "")
foreach(name sparse-5g-first sparse-5g-last sparse-64g-first sparse-64g-last)
  string(REGEX MATCH "([0-9]+)g-(first|last)" match ${name})
  math(EXPR length "${CMAKE_MATCH_1} << 30")
  set(body "${tree}")
  if(CMAKE_MATCH_2 STREQUAL "last")
    # The moov (at 24 in the sample, with children at 32 and 48) ends the file.
    foreach(offset 24 32 48)
      math(EXPR moved "${length} - 270 + ${offset}")
      string(REPLACE "@ ${offset})" "@ ${moved})" body "${body}")
    endforeach()
  endif()
  set(expected ${OUTPUT}/${name}.expected)
  file(WRITE ${expected} "[boxwalk] File: ${name}.mp4\n[boxwalk] Size: ${length} bytes\n${body}")
  execute_process(COMMAND ${EMULATOR} ${BOXWALK} ${name}.mp4
    WORKING_DIRECTORY ${OUTPUT}
    OUTPUT_FILE ${OUTPUT}/${name}.out
    ERROR_VARIABLE err
    RESULT_VARIABLE status)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT}/${name}.out ${expected}
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
