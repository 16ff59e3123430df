#include "binding/OverlappedWait.h"

namespace orvela {

OverlappedOutcome awaitOverlapped(HANDLE file, OVERLAPPED* ov, const Deadline& deadline,
                                  HANDLE wake) {
    DWORD transferred = 0;
    // The operation's own event comes first: one that completed wins over a wake.
    HANDLE events[2] = {ov->hEvent, wake};
    // Without a limit -1, which as a DWORD is INFINITE.
    DWORD rc = WaitForMultipleObjects(wake != nullptr ? 2 : 1, events, FALSE,
                                      static_cast<DWORD>(deadline.millisLeft()));
    if (rc == WAIT_OBJECT_0) {
        if (GetOverlappedResult(file, ov, &transferred, FALSE)) {
            return {OverlappedOutcome::Done, transferred, 0};
        }
        return {OverlappedOutcome::Failed, transferred, GetLastError()};
    }
    bool woken = rc == WAIT_OBJECT_0 + 1;
    DWORD waitErr = rc == WAIT_TIMEOUT || woken ? 0 : GetLastError();

    // ERROR_NOT_FOUND: the operation finished on its own after the wait gave up.
    DWORD cancelErr = CancelIoEx(file, ov) ? 0 : GetLastError();
    if (cancelErr == ERROR_NOT_FOUND) cancelErr = 0;
    // Until this returns the system may still write to *ov and to the operation's buffer.
    if (GetOverlappedResult(file, ov, &transferred, TRUE)) {
        return {OverlappedOutcome::Done, transferred, 0};
    }
    DWORD resultErr = GetLastError();
    if (waitErr != 0) return {OverlappedOutcome::Failed, transferred, waitErr};
    if (cancelErr != 0) return {OverlappedOutcome::Failed, transferred, cancelErr};
    if (resultErr == ERROR_OPERATION_ABORTED) {
        return {woken ? OverlappedOutcome::Woken : OverlappedOutcome::TimedOut, transferred, 0};
    }
    return {OverlappedOutcome::Failed, transferred, resultErr};
}

}  // namespace orvela
