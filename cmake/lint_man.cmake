# cmake -DPAGE=path -P lint_man.cmake
# Formats a manual page with every groff warning enabled and fails if groff
# says anything at all or fails.
find_program(GROFF groff)
if(NOT GROFF)
  message(FATAL_ERROR "groff not found (Debian package groff-base)")
endif()
execute_process(COMMAND ${GROFF} -man -ww -z ${PAGE}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
  message(FATAL_ERROR "${PAGE}: groff status ${status}\n${out}${err}")
endif()
message(STATUS "${PAGE}: clean")
