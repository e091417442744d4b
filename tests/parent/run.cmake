# cmake -DCYCLEKIT_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -DGENERATOR=...
#       -DC_COMPILER=... -DCXX_COMPILER=... -P run.cmake
# Builds and runs the parent project in SOURCE_DIR, which embeds cyclekit
# with add_subdirectory; then configures cyclekit alone with testing off and
# GoogleTest out of reach, which must succeed.

include(${CMAKE_CURRENT_LIST_DIR}/../run_step.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
set(common -G ${GENERATOR} -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/parent ${common}
    -DCYCLEKIT_DIR=${CYCLEKIT_DIR})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/parent)
if(NOT EXISTS ${WORK_DIR}/parent/cyclekit/counter/libclock.a
   OR NOT EXISTS ${WORK_DIR}/parent/cyclekit/measure/libbestof.a)
  message(FATAL_ERROR "the libraries are not libclock.a and libbestof.a")
endif()
# The C++ user is built and linked; running it would calibrate the
# compensated counter for a second or more, as the installed-package test
# already does.
run(${WORK_DIR}/parent/use_from_c)

run(${CMAKE_COMMAND} -S ${CYCLEKIT_DIR} -B ${WORK_DIR}/no-tests ${common}
    -DBUILD_TESTING=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON)
