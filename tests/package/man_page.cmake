# Renders the manual page and fails on any warning from groff.
# cmake -DGROFF=... -DPAGE=... -P man_page.cmake
execute_process(
  COMMAND ${GROFF} -man -Tutf8 -ww ${PAGE}
  RESULT_VARIABLE status
  OUTPUT_QUIET
  ERROR_VARIABLE warnings)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff (status ${status}) on ${PAGE}:\n${warnings}")
endif()
