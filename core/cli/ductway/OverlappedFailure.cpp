#include "core/cli/ductway/OverlappedFailure.h"

#include "binding/ScopedLocalRef.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"

namespace orvela::ductway {

void throwNotDone(JNIEnv* env, const OverlappedOutcome& outcome) {
    if (outcome.kind == OverlappedOutcome::Woken) {
        throwIOException(env, "invalid handle");
        return;
    }
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

}  // namespace orvela::ductway
