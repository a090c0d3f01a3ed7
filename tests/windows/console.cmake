# Runs boxwalk on a console (Wine's, on the pseudo-terminal that SCRIPT
# makes) and looks for two lines in what the terminal was sent: non-ASCII
# text must arrive as its characters, control characters escaped.
execute_process(COMMAND ${SCRIPT} -qec "'${EMULATOR}' '${BOXWALK}' tagged.m4a" /dev/null
  WORKING_DIRECTORY ${FIXTURES}
  INPUT_FILE /dev/null
  OUTPUT_VARIABLE screen
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "exit status ${status}:\n${screen}")
endif()
foreach(line
    "@ART (size=50) type=1 \"Zoë Ångström – 東京\""
    "@lyr (size=41) type=1 \"line one\\nline two\"")
  string(FIND "${screen}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "no line \"${line}\" on the console:\n${screen}")
  endif()
endforeach()
