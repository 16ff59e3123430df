#pragma once

#include <jni.h>

namespace orvela {

// Who waits; each writes its own diagnostic lines.
enum class WaitPurpose { Accept, Read };

// Waits until `fd` is readable, at most `timeoutMs` milliseconds (0 or less: without limit),
// for descriptors of any number. A wait interrupted by a signal starts again with the full
// limit. True when the descriptor is ready; otherwise false with InterruptedIOException
// "timeout", IOException with the system text, or IOException "Unexpected file desc set"
// pending.
bool awaitReadable(JNIEnv* env, int fd, int timeoutMs, WaitPurpose purpose);

// Waits without limit until `fd` can take more bytes, or reports a condition that the next send
// will (hang-up, error). False with errno set when the wait itself fails.
bool awaitWritable(int fd);

}  // namespace orvela
