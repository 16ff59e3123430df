#pragma once

#include <jni.h>

#include <chrono>

#include "binding/SharedSocket.h"

namespace orvela {

// Who waits; each writes its own diagnostic lines.
enum class WaitPurpose { Accept, Read };

// A call's time limit, fixed when the call starts: every wait of the call gets what is left of
// it, so retries (a lost race, a signal) never stretch the call past its limit.
class WaitLimit {
  public:
    // 0 or less: no limit.
    explicit WaitLimit(int timeoutMs);
    // What poll takes: -1 without limit, else the milliseconds left (0 once passed).
    int remainingMs() const;

  private:
    bool limited_;
    std::chrono::steady_clock::time_point end_{};
};

enum class Waited {
    Ready,   // the socket has the event, or a condition the next call on it reports
    Closed,  // another thread closed the socket
    Failed,  // an exception is pending
};

// Waits until `socket` has `events` (POLLIN) or is closed, for descriptors of any
// number, until `limit` passes. Failed leaves InterruptedIOException "timeout", IOException with
// the system text, or IOException "Unexpected file desc set" pending.
Waited awaitSocket(JNIEnv* env, const SharedSocket& socket, short events, const WaitLimit& limit,
                   WaitPurpose purpose);

}  // namespace orvela
