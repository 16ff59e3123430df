# Shared part of the MinGW-w64 toolchain files: ORVELA_MINGW_TRIPLE names the target
# (i686-w64-mingw32 or x86_64-w64-mingw32). The posix flavour of the compilers is used so that
# std::thread and std::mutex exist; everything the runtime needs is linked statically, so a
# program or library needs no MinGW DLL next to it, on Windows or under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ORVELA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVELA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVELA_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${ORVELA_MINGW_TRIPLE}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${ORVELA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
