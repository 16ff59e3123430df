#pragma once

#include <jni.h>
#include <windows.h>

namespace orvela {

// How an overlapped operation that the system took as pending came out.
struct OverlappedOutcome {
    enum Kind { Done, TimedOut, Failed };
    Kind kind;
    DWORD transferred;  // bytes moved when Done
    DWORD error;        // the system's code when Failed
};

// Waits up to jTimeout milliseconds (-1: no limit) for the pending operation on `file` whose
// overlapped block is `ov` (its hEvent a manual-reset event). When the wait ends without the
// operation, the operation is cancelled and this returns only once the system has finished
// with it, so the caller may release `ov` and the operation's buffer. An operation that
// completes while it is being cancelled counts as Done: its data is neither lost nor sent
// twice.
OverlappedOutcome awaitOverlapped(HANDLE file, OVERLAPPED* ov, jint jTimeout);

// Reports an outcome other than Done: java/io/InterruptedIOException "timeout", or
// java/io/IOException with the system's text.
void throwNotDone(JNIEnv* env, const OverlappedOutcome& outcome);

}  // namespace orvela
