# cmake -DPROGRAM=path [-DEMULATOR=cmd] -DLINES=n -DLINE_REGEX=re -P check_output.cmake
# Runs PROGRAM with an argument it must ignore, and fails unless it exits with
# status 0 and prints exactly LINES lines, each matching LINE_REGEX whole.
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ignored-argument
                OUTPUT_VARIABLE out RESULT_VARIABLE status)
message(STATUS "${PROGRAM} printed:\n${out}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "exit status ${status}, expected 0")
endif()
if(NOT out MATCHES "\n$")
  message(FATAL_ERROR "output does not end with a newline")
endif()
string(REGEX REPLACE "\n$" "" body "${out}")
string(REPLACE "\n" ";" lines "${body}")
list(LENGTH lines count)
if(NOT count EQUAL LINES)
  message(FATAL_ERROR "${count} lines, expected ${LINES}")
endif()
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^${LINE_REGEX}$")
    message(FATAL_ERROR "malformed line: '${line}'")
  endif()
endforeach()
