# 64-bit Windows (x64), cross-compiled with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ORVELA_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
