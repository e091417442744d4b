# cmake -DNM=path -DLIBRARY=path -DALLOWED=regex -P exported_names.cmake
# Fails when the library defines a global name that ALLOWED does not match
# whole: a helper with a plain C name (clear, fatal) would clash with a
# program's own function of that name, or quietly be taken for it.  Weak
# definitions (inline functions a build did not inline) yield to a program's
# own and are not counted.
execute_process(COMMAND ${NM} -g --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(stray "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ [BDGRST] (.+)$")
    set(name "${CMAKE_MATCH_1}")
    if(NOT name MATCHES "^(${ALLOWED})$")
      list(APPEND stray "${name}")
    endif()
  endif()
endforeach()
if(stray)
  message(FATAL_ERROR "names outside the library's own: ${stray}")
endif()
