# cyclekit_target_runs(<runs-var> <why-var>)
# Sets <runs-var> to TRUE when this host can run the programs this build
# makes, else FALSE with <why-var> saying why.  A native build can, and a
# cross build with an emulator runs them through it.  A cross build without
# one (32-bit x86 on an x86-64 host) runs them only where the kernel does:
# kernels built or booted without 32-bit emulation answer "Exec format
# error".  That is found out by building a tiny program for the target and
# running it.  CYCLEKIT_TESTS_CANNOT_RUN forces the answer FALSE, so that the
# path a build takes on such a kernel can be tried on any host.
option(CYCLEKIT_TESTS_CANNOT_RUN
       "Build the tests but run none, as on a host that cannot run this target's programs" OFF)

function(cyclekit_target_runs runs_var why_var)
  # What the toolchain file says such a host lacks; a generic text otherwise.
  if(DEFINED CYCLEKIT_CANNOT_RUN_REASON)
    set(why "${CYCLEKIT_CANNOT_RUN_REASON}")
  else()
    set(why "this host cannot run ${CMAKE_SYSTEM_PROCESSOR} programs")
  endif()
  if(CYCLEKIT_TESTS_CANNOT_RUN)
    set(runs FALSE)
  elseif(NOT CMAKE_CROSSCOMPILING OR CMAKE_CROSSCOMPILING_EMULATOR)
    set(runs TRUE)
  else()
    set(dir ${PROJECT_BINARY_DIR}/target_runs)
    try_compile(built ${dir} ${PROJECT_SOURCE_DIR}/cmake/target_runs_probe.c
                COPY_FILE ${dir}/probe)
    set(runs FALSE)
    if(built)
      # The probe exits with 42: any other status, or none, is a failure to run.
      execute_process(COMMAND ${dir}/probe RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
      if(status STREQUAL "42")
        set(runs TRUE)
      endif()
    endif()
  endif()
  set(${runs_var} ${runs} PARENT_SCOPE)
  set(${why_var} "${why}" PARENT_SCOPE)
endfunction()
