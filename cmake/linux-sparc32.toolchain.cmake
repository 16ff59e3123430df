# 32-bit big-endian SPARC Linux: Debian's sparc64 compiler with -m32 and its 32-bit libraries
# (lib32 of the sparc64 sysroot).
set(CMAKE_SYSTEM_PROCESSOR sparc)
set(ORVELA_LINUX_TRIPLE sparc64-linux-gnu)
set(ORVELA_LINUX_ARCH_FLAGS -m32)
set(ORVELA_LINUX_SYSROOT /usr/sparc64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/LinuxCrossToolchain.cmake)
