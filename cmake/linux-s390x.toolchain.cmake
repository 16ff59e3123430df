# 64-bit big-endian Linux (IBM Z), cross-compiled with Debian's s390x compiler.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(ORVELA_LINUX_TRIPLE s390x-linux-gnu)
set(ORVELA_LINUX_SYSROOT /usr/s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/LinuxCrossToolchain.cmake)
