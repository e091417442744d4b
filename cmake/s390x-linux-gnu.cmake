# IBM Z (s390x) Linux, 64-bit and big-endian, run under the user-mode emulator.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(cyclekit_triple s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L ${cyclekit_sysroot})
