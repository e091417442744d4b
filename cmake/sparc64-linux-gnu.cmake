# 64-bit SPARC Linux, big-endian, run under the user-mode emulator.
set(CMAKE_SYSTEM_PROCESSOR sparc64)
set(cyclekit_triple sparc64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-sparc64 -L ${cyclekit_sysroot})
