# cmake -DPROGRAM=path -DDATA=path -DROWS=n -P check_report.cmake
# Runs the benchmark report in quick mode and fails unless it exits with
# status 0, prints every section with a figure in each verdict, and writes
# ROWS rows of positive throughputs for the picture.
file(REMOVE ${DATA})
execute_process(COMMAND ${PROGRAM} --quick --plot-data ${DATA}
                OUTPUT_VARIABLE out RESULT_VARIABLE status)
message(STATUS "${PROGRAM} printed:\n${out}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "exit status ${status}, expected 0")
endif()
foreach(expected
    "Measured TSC rate: \\*\\*[1-9][0-9]*\\.[0-9] MHz"
    "### Counter overhead.*Ratio of the leasts: \\*\\*[0-9]+\\.[0-9]+\\*\\*"
    "### Time to a stable answer.*`bestof` sooner by\\* \\| [0-9]+×.*`bestof` sooner by"
    "### Accuracy.*IMUL / ADD = \\*\\*[0-9]+\\.[0-9]+\\*\\*"
    "### Linearity.*R² = \\*\\*[01]\\.[0-9]+\\*\\*"
    "### Cache flush.*Flushed / warm = \\*\\*[0-9]+\\.[0-9]+\\*\\*"
    "### Read throughput")
  if(NOT out MATCHES "${expected}")
    message(FATAL_ERROR "report lacks '${expected}'")
  endif()
endforeach()
if(out MATCHES "nan|inf")
  message(FATAL_ERROR "report holds a figure that is not a number")
endif()
file(STRINGS ${DATA} rows REGEX "^[0-9]")
list(LENGTH rows count)
if(NOT count EQUAL ROWS)
  message(FATAL_ERROR "${count} rows of throughput, expected ${ROWS}")
endif()
foreach(row IN LISTS rows)
  if(NOT row MATCHES "^[1-9][0-9]* [0-9]*\\.[0-9]*[1-9][0-9]* [0-9]*\\.[0-9]*[1-9][0-9]*$")
    message(FATAL_ERROR "malformed or zero throughput row: '${row}'")
  endif()
endforeach()
