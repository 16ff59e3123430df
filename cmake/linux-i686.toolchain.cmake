# 32-bit x86 Linux, cross-compiled with Debian's i686 compiler.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORVELA_LINUX_TRIPLE i686-linux-gnu)
set(ORVELA_LINUX_SYSROOT /usr/i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/LinuxCrossToolchain.cmake)
