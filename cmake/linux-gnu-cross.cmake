# Shared by the cross toolchain files: Debian's cross compilers for the triple
# named by cyclekit_triple, finding libraries, headers and packages only in
# that triple's folder.
set(CMAKE_SYSTEM_NAME Linux)
set(cyclekit_sysroot /usr/${cyclekit_triple})
set(CMAKE_C_COMPILER ${cyclekit_triple}-gcc)
set(CMAKE_CXX_COMPILER ${cyclekit_triple}-g++)
set(CMAKE_FIND_ROOT_PATH ${cyclekit_sysroot})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
