# 32-bit Windows (x86), cross-compiled with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ORVELA_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
