#include "core/cli/DuctwayOverlapped.h"

#include "binding/ScopedLocalRef.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"

namespace orvela {

OverlappedOutcome awaitOverlapped(HANDLE file, OVERLAPPED* ov, jint jTimeout) {
    DWORD transferred = 0;
    DWORD rc = WaitForSingleObject(ov->hEvent, static_cast<DWORD>(jTimeout));
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

void throwNotDone(JNIEnv* env, const OverlappedOutcome& outcome) {
    if (outcome.kind != OverlappedOutcome::TimedOut) {
        throwIOError(env, outcome.error);
        return;
    }
    throwTimeout(env);
    if (outcome.transferred == 0) return;
    // What the peer already took must not be sent again by a caller that retries: the count
    // goes into the exception's bytesTransferred.
    ScopedLocalRef<jthrowable> timeout(env, env->ExceptionOccurred());
    if (!timeout) return;
    env->ExceptionClear();
    ScopedLocalRef<jclass> cls(env, env->GetObjectClass(timeout.get()));
    jfieldID fid = env->GetFieldID(cls.get(), "bytesTransferred", "I");
    if (fid == nullptr) return;  // NoSuchFieldError is pending
    env->SetIntField(timeout.get(), fid, static_cast<jint>(outcome.transferred));
    env->Throw(timeout.get());
}

}  // namespace orvela
