#include "core/cli/LanterraWait.h"

#include <poll.h>

#include <cerrno>

#include "binding/LastErrorMsg.h"
#include "binding/ThrowByName.h"
#include "core/cli/LanterraTrace.h"

namespace orvela {

namespace {

enum class WaitStatus {
    Ready,      // readable, or with a condition the next accept or recv reports
    TimedOut,   // the limit passed
    Failed,     // the wait failed; `error` holds the errno value
    NotMarked,  // the wait ended without reporting the descriptor
};

struct WaitResult {
    WaitStatus status;
    int error;
};

WaitResult outcomeOf(int rc, int pollErrno, const pollfd& entry) {
    if (rc == 0) return {WaitStatus::TimedOut, 0};
    if (rc < 0) return {WaitStatus::Failed, pollErrno};
    // A descriptor closed under the wait (by close0 on another thread) is an error of its own.
    if (entry.revents & POLLNVAL) return {WaitStatus::Failed, EBADF};
    // Hang-up and error conditions count as readable: the next accept or recv reports them.
    if (entry.revents & (POLLIN | POLLHUP | POLLERR)) return {WaitStatus::Ready, 0};
    return {WaitStatus::NotMarked, 0};
}

WaitResult waitReadable(int fd, int timeoutMs, WaitPurpose purpose) {
    const bool reading = purpose == WaitPurpose::Read;
    const int limit = timeoutMs > 0 ? timeoutMs : -1;
    if (reading) traceLine(2, "read select...\n");
    pollfd entry{};
    int rc;
    int pollErrno;
    for (;;) {
        if (!reading) traceLine(2, "accept select...\n");
        entry = pollfd{fd, POLLIN, 0};
        rc = ::poll(&entry, 1, limit);
        pollErrno = errno;
        if (reading) traceLine(2, "read select rc=%d\n", rc);
        if (rc >= 0 || pollErrno != EINTR) break;
        if (reading) traceLine(1, "Interrupted, try again\n");
    }
    if (!reading) traceLine(1, "accept select rc=%i\n", rc);
    return outcomeOf(rc, pollErrno, entry);
}

}  // namespace

bool awaitWritable(int fd) {
    for (;;) {
        pollfd entry{fd, POLLOUT, 0};
        int rc = ::poll(&entry, 1, -1);
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0) return false;
        if (entry.revents & POLLNVAL) {
            errno = EBADF;
            return false;
        }
        return true;
    }
}

bool awaitReadable(JNIEnv* env, int fd, int timeoutMs, WaitPurpose purpose) {
    WaitResult result = waitReadable(fd, timeoutMs, purpose);
    switch (result.status) {
        case WaitStatus::Ready:
            return true;
        case WaitStatus::TimedOut:
            throwTimeout(env);
            return false;
        case WaitStatus::Failed:
            errno = result.error;
            throwIOException(env, getLastErrorMsg());
            return false;
        case WaitStatus::NotMarked:
            break;
    }
    throwIOException(env, "Unexpected file desc set");
    return false;
}

}  // namespace orvela
