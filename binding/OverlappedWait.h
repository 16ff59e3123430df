#pragma once

#include <windows.h>

#include "binding/Deadline.h"

namespace orvela {

// How an overlapped operation that the system took as pending came out.
struct OverlappedOutcome {
    // Woken: the wake event ended the wait (the operation's owner is being closed).
    enum Kind { Done, TimedOut, Failed, Woken };
    Kind kind;
    // Bytes moved, also by an operation that failed or was cancelled part-way: a write that
    // timed out may have been partly taken by the peer, a read of a longer message
    // (ERROR_MORE_DATA) has filled its buffer.
    DWORD transferred;
    DWORD error;  // the system's code when Failed
};

// Waits until `deadline` for the pending operation on `file` whose overlapped block is `ov`
// (its hEvent a manual-reset event). When the wait ends without the
// operation, the operation is cancelled and this returns only once the system has finished
// with it, so the caller may release `ov` and the operation's buffer. An operation that
// completes while it is being cancelled counts as Done: its data is neither lost nor sent
// twice. A `wake` event (manual-reset, or null for none) that is or becomes signalled ends the
// wait the same way, with Woken.
OverlappedOutcome awaitOverlapped(HANDLE file, OVERLAPPED* ov, const Deadline& deadline,
                                  HANDLE wake = nullptr);

}  // namespace orvela
