#include "binding/SocketWait.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <ctime>

namespace orvela {

SocketWait waitForSocket(int fd, short events, int wakeFd, const Deadline& deadline) {
    pollfd entries[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
    timespec wait{};
    if (deadline.limited()) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.left());
        wait.tv_sec = static_cast<time_t>(ns.count() / 1000000000);
        wait.tv_nsec = static_cast<long>(ns.count() % 1000000000);
    }
    const int polled = ::ppoll(entries, 2, deadline.limited() ? &wait : nullptr, nullptr);
    if (polled < 0) {
        const int err = errno;
        if (err == EINTR) return {SocketWait::Interrupted, polled, 0, 0};
        return {SocketWait::Failed, polled, 0, err};
    }
    if (polled == 0) return {SocketWait::TimedOut, polled, 0, 0};
    if (entries[1].revents != 0) return {SocketWait::Closed, polled, 0, 0};
    const short revents = entries[0].revents;
    if (revents & (events | POLLHUP | POLLERR)) return {SocketWait::Ready, polled, revents, 0};
    if (revents & POLLNVAL) return {SocketWait::Failed, polled, revents, EBADF};
    return {SocketWait::Failed, polled, revents, 0};
}

SocketWait waitForSocket(const SharedSocket& socket, short events, const Deadline& deadline) {
    SocketWait waited = waitForSocket(socket.fd(), events, socket.wakeFd(), deadline);
    // A close that raced the poll's answer wins over what the socket showed.
    if (waited.polled > 0 && socket.closed()) {
        return {SocketWait::Closed, waited.polled, 0, 0};
    }
    return waited;
}

}  // namespace orvela
