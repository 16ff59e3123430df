#include "core/cli/lanterra/SocketWait.h"

#include <poll.h>

#include <cerrno>

#include "binding/DebugLine.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"

namespace orvela {

WaitLimit::WaitLimit(int timeoutMs) : limited_(timeoutMs > 0) {
    // Only a limited call reads the clock.
    if (limited_) end_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

int WaitLimit::remainingMs() const {
    if (!limited_) return -1;
    auto left = end_ - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    // Rounded up: a wait never ends before the limit.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

namespace {

void debugBefore(WaitPurpose purpose) {
    if (purpose == WaitPurpose::Accept) {
        debugLine(2, "accept select...\n");
    } else {
        debugLine(2, "read select...\n");
    }
}

void debugAfter(WaitPurpose purpose, int rc) {
    if (purpose == WaitPurpose::Accept) {
        debugLine(1, "accept select rc=%i\n", rc);
    } else {
        debugLine(2, "read select rc=%d\n", rc);
    }
}

}  // namespace

Waited awaitSocket(JNIEnv* env, const SharedSocket& socket, short events, const WaitLimit& limit,
                   WaitPurpose purpose) {
    pollfd entries[2];
    int rc;
    for (;;) {
        debugBefore(purpose);
        entries[0] = pollfd{socket.fd(), events, 0};
        entries[1] = pollfd{socket.wakeFd(), POLLIN, 0};
        rc = ::poll(entries, 2, limit.remainingMs());
        int err = errno;
        debugAfter(purpose, rc);
        if (rc >= 0) break;
        if (err != EINTR) {
            throwIOError(env, err);
            return Waited::Failed;
        }
        if (purpose == WaitPurpose::Read) debugLine(1, "Interrupted, try again\n");
    }
    if (rc == 0) {
        throwTimeout(env);
        return Waited::Failed;
    }
    if (entries[1].revents != 0 || socket.closed()) return Waited::Closed;
    // Hang-up and error conditions count as ready: the next call reports them.
    if (entries[0].revents & (events | POLLHUP | POLLERR)) return Waited::Ready;
    if (entries[0].revents & POLLNVAL) {
        throwIOError(env, EBADF);
        return Waited::Failed;
    }
    throwIOException(env, "Unexpected file desc set");
    return Waited::Failed;
}

}  // namespace orvela
