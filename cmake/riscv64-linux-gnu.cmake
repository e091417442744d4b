# 64-bit RISC-V Linux, run under the user-mode emulator.
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(cyclekit_triple riscv64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-riscv64 -L ${cyclekit_sysroot})
