#pragma once

#include <cerrno>

namespace orvela::lanterra {

// An error after which the same non-blocking call may succeed later: no bytes or no room yet,
// or a signal came first.
inline bool wouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

}  // namespace orvela::lanterra
