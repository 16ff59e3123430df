#include "binding/OverlappedWait.h"

namespace orvela {

OverlappedOutcome awaitOverlapped(HANDLE file, OVERLAPPED* ov, jint timeoutMs) {
    DWORD transferred = 0;
    DWORD rc = WaitForSingleObject(ov->hEvent, static_cast<DWORD>(timeoutMs));
    if (rc == WAIT_OBJECT_0) {
        if (GetOverlappedResult(file, ov, &transferred, FALSE)) {
            return {OverlappedOutcome::Done, transferred, 0};
        }
        return {OverlappedOutcome::Failed, transferred, GetLastError()};
    }
    DWORD waitErr = rc == WAIT_TIMEOUT ? 0 : GetLastError();

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
    if (resultErr == ERROR_OPERATION_ABORTED) return {OverlappedOutcome::TimedOut, transferred, 0};
    return {OverlappedOutcome::Failed, transferred, resultErr};
}

}  // namespace orvela
