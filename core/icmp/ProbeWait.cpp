#include "core/icmp/ProbeWait.h"

#include <poll.h>
#include <sys/types.h>

#include <cerrno>

#include "binding/SocketWait.h"
#include "core/icmp/Diagnostics.h"
#include "core/icmp/ProbeStatus.h"
#include "core/icmp/QueuedError.h"
#include "core/icmp/TimedReceive.h"

namespace orvela::icmp {
namespace {

constexpr int kDefaultTimeoutMs = 5000;

// Waits until `sock` is ready for `events` or `deadline` has passed, through signals: what it
// is ready for (an error queue that holds entries shows as POLLERR), or 0 when it is not ready
// by then or the wait failed.
short awaitReady(int sock, short events, const Deadline& deadline) {
    for (;;) {
        if (deadline.passed()) return 0;
        const SocketWait waited = waitForSocket(sock, events, -1, deadline);
        if (waited.result == SocketWait::Interrupted) continue;
        return waited.result == SocketWait::Ready ? waited.revents : 0;
    }
}

int printedResult(int result) {
    printVerbose("wait_for_reply:: Returning %d \n", result);
    return result;
}

}  // namespace

Deadline::Clock::duration probeTimeout(int timeout) {
    return std::chrono::milliseconds(timeout > 0 ? timeout : kDefaultTimeoutMs);
}

Deadline probeDeadline(int timeout) {
    return Deadline::in(probeTimeout(timeout));
}

TryDeadlines::TryDeadlines(int timeout)
    : slot_(probeTimeout(timeout)), slotEnd_(Deadline::Clock::now()) {}

Deadline TryDeadlines::next() {
    slotEnd_ = Deadline::Clock::time_point::max() - slotEnd_ < slot_
                   ? Deadline::Clock::time_point::max()
                   : slotEnd_ + slot_;
    return Deadline::in(slot_).orEarlier(Deadline::at(slotEnd_));
}

int sendUntil(int sock, const unsigned char* data, int length, const sockaddr* to,
              socklen_t toLength, const Deadline& deadline) {
    for (;;) {
        const ssize_t sent =
            ::sendto(sock, data, static_cast<size_t>(length), MSG_DONTWAIT, to, toLength);
        if (sent >= 0) return static_cast<int>(sent);
        const int err = errno;
        if (err == EINTR) continue;
        if (err != EAGAIN && err != EWOULDBLOCK) return -1;
        if (awaitReady(sock, POLLOUT, deadline) == 0) return -1;
    }
}

int receiveUntil(int sock, sockaddr_in* from, unsigned char* packet, int datalen,
                 const Deadline& deadline, timeval* received) {
    if (awaitReady(sock, POLLIN, deadline) == 0) return printedResult(kStatusTimedOut);
    return printedResult(static_cast<int>(receiveTimed(
        sock, packet, static_cast<size_t>(datalen > 0 ? datalen : 0), 0, from, received)));
}

int receiveDeliveryUntil(int sock, unsigned char* packet, int datalen, const Deadline& deadline,
                         Delivery* delivery) {
    const size_t room = static_cast<size_t>(datalen > 0 ? datalen : 0);
    for (;;) {
        const short ready = awaitReady(sock, POLLIN, deadline);
        if (ready == 0) return printedResult(kStatusTimedOut);
        // Errors first: a datagram queued behind an error is still there on the next call. The
        // room for an IPv6 sender holds an IPv4 one too.
        delivery->queuedError = (ready & POLLERR) != 0;
        const ssize_t got = delivery->queuedError
                                ? receiveQueuedError(sock, packet, room, &delivery->error)
                                : receiveTimed(sock, packet, room, MSG_DONTWAIT, &delivery->from.v6,
                                               &delivery->received);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            // Taken by another reader, or a socket error left pending without a queued entry:
            // taking that error keeps the next wait from returning at once.
            if (delivery->queuedError) takePendingError(sock);
            continue;
        }
        return printedResult(static_cast<int>(got));
    }
}

}  // namespace orvela::icmp
