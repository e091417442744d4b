# 64-bit Arm Linux, run under the user-mode emulator.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(cyclekit_triple aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${cyclekit_sysroot})
