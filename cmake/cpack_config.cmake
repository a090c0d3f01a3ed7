# Read by cpack for each package it makes. Dates in a package come from
# SOURCE_DATE_EPOCH; when it is unset, from the date of the last commit, so
# that two builds of one commit give the same bytes.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git log -1 --format=%ct
    WORKING_DIRECTORY ${CPACK_BOXWALK_SOURCE_DIR}
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0 OR epoch STREQUAL "")
    # Not a git checkout: the date of the manual page's last change
    # stands for the release.
    file(TIMESTAMP ${CPACK_BOXWALK_SOURCE_DIR}/doc/boxwalk.1 epoch "%s" UTC)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()
