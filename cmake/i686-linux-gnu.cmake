# 32-bit x86 Linux with Debian's cross compiler, which defaults to x87 floating
# point; long and clock_t are 32 bits.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(cyclekit_triple i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)

# An x86-64 kernel runs 32-bit programs itself, so the tests read the real
# time-stamp counter.  The programs name the cross packages' loader and
# libraries, so no 32-bit runtime need be installed on the host.  qemu-i386
# is no substitute: its fork() hangs in the child, and the death tests fork.
# A kernel without 32-bit emulation runs none of them: the tests are then
# built but not run (cmake/target_runs.cmake), and this says why.
set(CYCLEKIT_CANNOT_RUN_REASON "this kernel cannot run 32-bit x86 programs")
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-Wl,--dynamic-linker=${cyclekit_sysroot}/lib/ld-linux.so.2 -Wl,-rpath,${cyclekit_sysroot}/lib")
