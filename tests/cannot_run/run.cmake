# cmake -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=... -P run.cmake
# Builds cyclekit for 32-bit x86 as on a kernel that cannot run 32-bit
# programs (the path forced by CYCLEKIT_TESTS_CANNOT_RUN), then runs CTest
# there.  The build must succeed with every test program built, CTest must
# run exactly one test, which passes and says why, and no test program may be
# run: the emulator given to the build records every program it is asked to
# run, so a test or a test listing that runs one leaves a trace.  First, the
# detection itself: configured without the option, the build must take that
# path exactly when this host fails to run a 32-bit program (the cross
# packages' own loader, asked for its version).

include(${CMAKE_CURRENT_LIST_DIR}/../run_step.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(log ${WORK_DIR}/ran.log)
file(WRITE ${WORK_DIR}/record.sh "#!/bin/sh\necho \"$*\" >> '${log}'\nexec \"$@\"\n")
file(CHMOD ${WORK_DIR}/record.sh PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

set(line "i686: this kernel cannot run 32-bit x86 programs, so the tests were built, not run")
set(common -G ${GENERATOR} -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/i686-linux-gnu.cmake
    -DCYCLEKIT_GTEST_FROM_SOURCE=ON -DCYCLEKIT_WERROR=ON
    -DCYCLEKIT_BUILD_TOOLS=OFF -DCYCLEKIT_BUILD_EXAMPLES=OFF -DCYCLEKIT_BUILD_BENCH=OFF)

execute_process(COMMAND /usr/i686-linux-gnu/lib/ld-linux.so.2 --version
                RESULT_VARIABLE loader_status OUTPUT_QUIET ERROR_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/auto ${common}
                OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "configuring without the option failed:\n${out}")
endif()
string(FIND "${out}" "${line}" said)
if(loader_status EQUAL 0 AND NOT said EQUAL -1)
  message(FATAL_ERROR "this host runs 32-bit programs, yet the build would not run its tests")
elseif(NOT loader_status EQUAL 0 AND said EQUAL -1)
  message(FATAL_ERROR "this host cannot run 32-bit programs, yet the build does not say so")
endif()
message(STATUS "loader status '${loader_status}', the build agrees")

set(build ${WORK_DIR}/build)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build} ${common}
    -DCMAKE_CROSSCOMPILING_EMULATOR=${WORK_DIR}/record.sh -DCYCLEKIT_TESTS_CANNOT_RUN=ON)
run(${CMAKE_COMMAND} --build ${build})
foreach(program clock_scripted_test bestof_test guard_test)
  if(NOT EXISTS ${build}/tests/${program})
    message(FATAL_ERROR "test program ${program} was not built")
  endif()
endforeach()

execute_process(COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${build} -N
                OUTPUT_VARIABLE listed RESULT_VARIABLE status)
message(STATUS "ctest -N:\n${listed}")
if(NOT status EQUAL 0 OR NOT listed MATCHES "Total Tests: 1\n")
  message(FATAL_ERROR "expected exactly one registered test")
endif()
execute_process(COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${build}
                OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE status)
message(STATUS "ctest:\n${out}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the test step failed with status ${status}")
endif()
string(FIND "${out}" "Test #1: ${line} ." at)
if(at EQUAL -1)
  message(FATAL_ERROR "the test step does not say '${line}'")
endif()
if(EXISTS ${log})
  file(READ ${log} ran)
  message(FATAL_ERROR "test programs were run:\n${ran}")
endif()
