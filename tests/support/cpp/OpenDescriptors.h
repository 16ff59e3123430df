#pragma once

// Counting what a process holds open, so that a leak shows as a count that grew.

#include <cstddef>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#endif

namespace orvela::test {

#ifdef _WIN32
// The C runtime's descriptors that have an OS handle behind them.
inline size_t openDescriptors() {
    size_t open = 0;
    for (int fd = 0; fd < 2048; ++fd) {
        if (_get_osfhandle(fd) != -1) ++open;
    }
    return open;
}

// The process's kernel handles. (Wine does not count them for GetProcessHandleCount; asking
// about each handle value does.)
inline size_t openKernelHandles() {
    size_t open = 0;
    for (ULONG_PTR value = 4; value < (1u << 16); value += 4) {
        DWORD flags;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++open;
    }
    return open;
}
#else
// Descriptors are handed out lowest first, so a leak shows below 4096. Probing needs no
// descriptor of its own, which counts even when none is left.
inline size_t openDescriptors() {
    size_t open = 0;
    for (int fd = 0; fd < 4096; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) ++open;
    }
    return open;
}
#endif

}  // namespace orvela::test
