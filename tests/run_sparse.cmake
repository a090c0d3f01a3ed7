# Writes the sparse files of tests/sparse (5 GiB and 64 GiB, moov first and
# last) into OUTPUT, runs boxwalk, under EMULATOR when given, on each from
# inside that folder, and checks standard output byte for byte, an empty
# standard error and status 0: the same bytes on every build, 32-bit ones
# included. The tree is the sample's (tests/golden/song.out), its offsets
# moved with the moov when it is last. With BOXWALK_JSON, boxwalk-json's
# object for each must hold the same lines, the size and the moov. The
# files are removed after.
# cmake [-DEMULATOR=...] -DBOXWALK=... [-DBOXWALK_JSON=...] -DSOURCE_DIR=... -DOUTPUT=dir
#       -P run_sparse.cmake
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
  if(BOXWALK_JSON)
    execute_process(COMMAND ${EMULATOR} ${BOXWALK_JSON} ${name}.mp4
      WORKING_DIRECTORY ${OUTPUT}
      OUTPUT_VARIABLE json
      ERROR_VARIABLE err
      RESULT_VARIABLE status)
    string(JSON size ERROR_VARIABLE bad GET "${json}" size)
    string(JSON moov_size ERROR_VARIABLE bad GET "${json}" moov 1)
    string(JSON count ERROR_VARIABLE bad LENGTH "${json}" lines)
    set(lines "")
    if(count GREATER 0)
      math(EXPR final "${count} - 1")
      foreach(i RANGE ${final})
        string(JSON text ERROR_VARIABLE bad GET "${json}" lines ${i} text)
        string(APPEND lines "${text}\n")
      endforeach()
    endif()
    if(NOT status STREQUAL "0" OR NOT err STREQUAL "" OR bad OR NOT size STREQUAL length
       OR NOT moov_size STREQUAL "246" OR NOT "\n${lines}" STREQUAL body)
      string(APPEND failures "${name}: boxwalk-json status ${status}, size ${size}, "
                             "lines:\n${lines}standard error: ${err} ${bad}\n")
    endif()
  endif()
  file(REMOVE ${OUTPUT}/${name}.mp4)
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
message(STATUS "4 sparse files match")
