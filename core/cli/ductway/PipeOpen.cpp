#include "core/cli/ductway/PipeOpen.h"

namespace orvela::ductway {
namespace {

// How long one pass of the open loop waits for a free instance.
constexpr DWORD kOpenWaitMillis = 5000;

}  // namespace

HANDLE openPipe(const char* name, DWORD access, DWORD* err) {
    for (;;) {
        if (!WaitNamedPipeA(name, kOpenWaitMillis)) {
            *err = GetLastError();
        } else {
            // The impersonation level lets the server learn the client's user name.
            HANDLE hPipe = CreateFileA(
                name, access, 0, nullptr, OPEN_EXISTING,
                FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IMPERSONATION, nullptr);
            if (hPipe != INVALID_HANDLE_VALUE) return hPipe;
            *err = GetLastError();
        }
        // Busy: another client took the instance between the wait and the open.
        if (*err != ERROR_PIPE_BUSY) return INVALID_HANDLE_VALUE;
    }
}

}  // namespace orvela::ductway
