# cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -DLIBDIR=...
#       -DGENERATOR=... -DC_COMPILER=... -DCXX_COMPILER=... -P run.cmake
# Installs the build in BUILD_DIR to a scratch prefix, moves the prefix
# elsewhere (an installed cyclekit must not depend on where it was put), then
# builds and runs the consumer project in SOURCE_DIR with find_package, and
# compiles and runs use_from_c.c with nothing but the C compiler and
# pkg-config's flags.

include(${CMAKE_CURRENT_LIST_DIR}/../run_step.cmake)

set(prefix ${WORK_DIR}/moved-prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
file(RENAME ${WORK_DIR}/prefix ${prefix})

# ---- CMake package: a pure C project, then one with C++ ---------------------
foreach(with_cxx OFF ON)
  set(build ${WORK_DIR}/build-cxx-${with_cxx})
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build} -G ${GENERATOR}
      -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
      -DWITH_CXX=${with_cxx} -DCMAKE_PREFIX_PATH=${prefix} -DEXPECTED_PREFIX=${prefix})
  run(${CMAKE_COMMAND} --build ${build})
endforeach()
foreach(program clock_only use_from_c)
  run(${WORK_DIR}/build-cxx-OFF/${program})
endforeach()
run(${WORK_DIR}/build-cxx-ON/use_from_cxx)

# ---- pkg-config ---------------------------------------------------------------
find_program(PKG_CONFIG NAMES pkg-config pkgconf)
if(NOT PKG_CONFIG)
  message(FATAL_ERROR "pkg-config not found (Debian package pkgconf)")
endif()
# Only the scratch install is visible, never a system-wide one.
set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/${LIBDIR}/pkgconfig)
unset(ENV{PKG_CONFIG_PATH})
execute_process(COMMAND ${PKG_CONFIG} --cflags --libs cyclekit
                OUTPUT_VARIABLE flags RESULT_VARIABLE status
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pkg-config knows no cyclekit in $ENV{PKG_CONFIG_LIBDIR}")
endif()
if(NOT flags MATCHES "-lbestof -lclock")
  message(FATAL_ERROR "static link order must be -lbestof -lclock: ${flags}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
set(pc_dir ${WORK_DIR}/pkg-config)
file(MAKE_DIRECTORY ${pc_dir})
execute_process(COMMAND ${C_COMPILER} ${SOURCE_DIR}/use_from_c.c ${flags}
                WORKING_DIRECTORY ${pc_dir} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cc use_from_c.c ${flags} failed")
endif()
run(${pc_dir}/a.out)
