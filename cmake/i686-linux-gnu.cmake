# 32-bit x86 Linux with Debian's cross compiler (x87 floating point, 32-bit
# long and clock_t).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(cyclekit_sysroot /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${cyclekit_sysroot})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# An x86-64 kernel runs 32-bit programs itself, so the tests read the real
# time-stamp counter.  The programs name the cross packages' loader and
# libraries, which need no 32-bit runtime installed on the host.  A host that
# cannot run the loader gets the user-mode emulator instead.
execute_process(COMMAND ${cyclekit_sysroot}/lib/ld-linux.so.2 --version
                RESULT_VARIABLE cyclekit_native_status OUTPUT_QUIET ERROR_QUIET)
if(cyclekit_native_status EQUAL 0)
  set(CMAKE_EXE_LINKER_FLAGS_INIT
      "-Wl,--dynamic-linker=${cyclekit_sysroot}/lib/ld-linux.so.2 -Wl,-rpath,${cyclekit_sysroot}/lib")
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L ${cyclekit_sysroot})
endif()
