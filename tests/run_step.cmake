# run(command args...): runs one step of a test script, shows the command and
# its output, and fails the script if the step fails.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  message(STATUS "+ ${ARGN}\n${out}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed with status ${status}")
  endif()
endfunction()
