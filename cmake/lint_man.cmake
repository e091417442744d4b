# cmake -DPAGES=page;page... -P lint_man.cmake
# Formats each manual page with every groff warning enabled and fails if
# groff says anything at all or fails.
find_program(GROFF groff)
if(NOT GROFF)
  message(FATAL_ERROR "groff not found (Debian package groff-base)")
endif()
foreach(page IN LISTS PAGES)
  execute_process(COMMAND ${GROFF} -man -ww -z ${page}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
    message(FATAL_ERROR "${page}: groff status ${status}\n${out}${err}")
  endif()
  message(STATUS "${page}: clean")
endforeach()
