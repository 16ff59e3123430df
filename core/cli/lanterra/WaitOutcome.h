#pragma once

#include <jni.h>

#include "binding/SocketWait.h"

namespace orvela::lanterra {

// What a wait for a socket comes to for a native.
enum class Waited {
    Ready,   // the socket has the event, or a condition the next call on it reports
    Closed,  // another thread closed the socket
    Thrown,  // an exception is pending
};

// The outcome of a wait that was not interrupted (the caller waits again after a signal):
// Thrown leaves InterruptedIOException "timeout", IOException with the system text, or
// IOException "Unexpected file desc set" (the poll reported nothing it asked for) pending.
Waited outcomeOf(JNIEnv* env, const SocketWait& waited);

}  // namespace orvela::lanterra
