# 64-bit POWER Linux, little-endian, run under the user-mode emulator.
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(cyclekit_triple powerpc64le-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc64le -L ${cyclekit_sysroot})
