#pragma once

#include <jni.h>

namespace orvela {

// Who waits; each writes its own diagnostic lines.
enum class WaitPurpose { Accept, Read };

enum class WaitStatus {
    Ready,      // the descriptor is readable (or has a condition the next call will report)
    TimedOut,   // the limit passed
    Failed,     // the wait failed; `error` holds the errno value
    NotMarked,  // the wait ended without reporting the descriptor
};

struct WaitResult {
    WaitStatus status;
    int error;
};

// Waits until `fd` is readable, at most `timeoutMs` milliseconds (0 or less: without limit).
// A wait interrupted by a signal starts again with the full limit. Works for descriptors of
// any number.
WaitResult waitReadable(int fd, int timeoutMs, WaitPurpose purpose);

// waitReadable, reporting every outcome but Ready to Java: InterruptedIOException "timeout",
// IOException with the system text, or IOException "Unexpected file desc set". True when
// the descriptor is ready.
bool awaitReadable(JNIEnv* env, int fd, int timeoutMs, WaitPurpose purpose);

}  // namespace orvela
