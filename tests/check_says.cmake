# cmake -DPROGRAM=path [-DEMULATOR=cmd] [-DLABELS=a,b,...] [-DPATTERN=re]
#       [-DFULL=1] -P check_says.cmake
# Runs PROGRAM.  Normally it must exit with status 0, every label of LABELS
# must begin a line of its output as "label: ", and some line must match
# PATTERN whole.  With FULL, its output goes to /dev/full instead: it must
# then exit with a non-zero status and say something on standard error.
if(FULL)
  execute_process(COMMAND ${EMULATOR} ${PROGRAM}
                  OUTPUT_FILE /dev/full ERROR_VARIABLE err RESULT_VARIABLE status)
  message(STATUS "${PROGRAM} >/dev/full: status ${status}, said: ${err}")
  if(status EQUAL 0)
    message(FATAL_ERROR "exit status 0 although its output was lost")
  endif()
  if(err STREQUAL "")
    message(FATAL_ERROR "no message on standard error")
  endif()
  return()
endif()

execute_process(COMMAND ${EMULATOR} ${PROGRAM}
                OUTPUT_VARIABLE out RESULT_VARIABLE status)
message(STATUS "${PROGRAM} printed:\n${out}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "exit status ${status}, expected 0")
endif()
string(REPLACE "," ";" labels "${LABELS}")
foreach(label IN LISTS labels)
  string(FIND "\n${out}" "\n${label}: " at)
  if(at EQUAL -1)
    message(FATAL_ERROR "no line begins with '${label}: '")
  endif()
endforeach()
if(DEFINED PATTERN)
  string(REGEX MATCH "(^|\n)${PATTERN}\n" found "${out}")
  if(found STREQUAL "")
    message(FATAL_ERROR "no line matches '${PATTERN}'")
  endif()
endif()
