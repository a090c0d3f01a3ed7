# Runs boxwalk on INPUT from inside its folder, so that the file line shows
# the bare name, with standard output and standard error redirected to files;
# compares them and the exit status with GOLDEN.
get_filename_component(folder ${INPUT} DIRECTORY)
get_filename_component(name ${INPUT} NAME)
execute_process(COMMAND ${EMULATOR} ${BOXWALK} ${name}
  WORKING_DIRECTORY ${folder}
  OUTPUT_FILE ${OUTPUT}.out
  ERROR_FILE ${OUTPUT}.err
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "exit status ${status}")
endif()
file(READ ${OUTPUT}.err err)
if(NOT err STREQUAL "")
  message(FATAL_ERROR "standard error: ${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT}.out ${GOLDEN}
  RESULT_VARIABLE differ)
if(differ)
  message(FATAL_ERROR "${OUTPUT}.out differs from ${GOLDEN}")
endif()
