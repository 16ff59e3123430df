#include "core/cli/lanterra/WaitOutcome.h"

#include <cerrno>

#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"

namespace orvela::lanterra {

Waited outcomeOf(JNIEnv* env, const SocketWait& waited) {
    switch (waited.result) {
        case SocketWait::Ready:
            return Waited::Ready;
        case SocketWait::Closed:
            return Waited::Closed;
        case SocketWait::TimedOut:
            throwTimeout(env);
            return Waited::Thrown;
        case SocketWait::Interrupted:
            throwIOError(env, EINTR);
            return Waited::Thrown;
        case SocketWait::Failed:
            break;
    }
    if (waited.error != 0) {
        throwIOError(env, waited.error);
    } else {
        throwIOException(env, "Unexpected file desc set");
    }
    return Waited::Thrown;
}

}  // namespace orvela::lanterra
