#pragma once

// Waiting for a socket (POSIX), beside the wake descriptor of its SharedSocket, within a
// deadline. One wait is one poll: a caller writes its own diagnostic lines around it and
// decides what a signal means to it.

#include "binding/Deadline.h"
#include "binding/SharedSocket.h"

namespace orvela {

struct SocketWait {
    enum Result {
        Ready,        // the socket has one of the events, or a hang-up or error the next call
                      // on it reports
        Closed,       // the wake descriptor is readable: another thread closed the socket
        TimedOut,     // the deadline passed first
        Interrupted,  // a signal cut the wait short
        Failed,       // `error` holds the error number (0: the poll reported nothing it asked)
    };
    Result result;
    int polled;     // what poll returned, for the callers' diagnostic lines
    short revents;  // the socket's events when Ready (POLLERR: its error queue holds entries)
    int error;
};

// One wait until `fd` has one of `events`, `wakeFd` is readable, or `deadline` passes. A
// negative `wakeFd` is not watched. A descriptor that isn't open fails with EBADF.
SocketWait waitForSocket(int fd, short events, int wakeFd, const Deadline& deadline);

// The same for a shared socket and its wake descriptor; a socket marked closed is Closed.
SocketWait waitForSocket(const SharedSocket& socket, short events, const Deadline& deadline);

}  // namespace orvela
