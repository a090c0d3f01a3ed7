# Renders each manual page and fails on any warning from groff.
# cmake -DGROFF=... -DPAGES=page;... -P man_page.cmake
foreach(page ${PAGES})
  execute_process(
    COMMAND ${GROFF} -man -Tutf8 -ww ${page}
    RESULT_VARIABLE status
    OUTPUT_QUIET
    ERROR_VARIABLE warnings)
  if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "groff (status ${status}) on ${page}:\n${warnings}")
  endif()
endforeach()
