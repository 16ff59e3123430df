#include "core/icmp/ProbeWait.h"

#include <poll.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "core/icmp/ProbeSettings.h"
#include "core/icmp/ProbeStatus.h"
#include "core/icmp/QueuedError.h"
#include "core/icmp/TimedReceive.h"

namespace orvela::icmp {
namespace {

constexpr int kDefaultTimeoutMs = 5000;

// Waits until `sock` is ready for `events` or `deadline` has passed: what it is ready for (an
// error queue that holds entries shows as POLLERR), or 0 when it is not ready by then or the
// wait failed.
short pollUntil(int sock, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return 0;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(ns / 1000000000),
                            static_cast<long>(ns % 1000000000)};
        pollfd fd{sock, events, 0};
        const int ready = ::ppoll(&fd, 1, &wait, nullptr);
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0 && (fd.revents & POLLNVAL) == 0 ? fd.revents : 0;
    }
}

void printWaitResult(int result) {
    if (!verbose) return;
    std::printf("wait_for_reply:: Returning %d \n", result);
    std::fflush(stdout);
}

}  // namespace

Clock::duration waitFor(int timeout) {
    return std::chrono::milliseconds(timeout > 0 ? timeout : kDefaultTimeoutMs);
}

Clock::time_point deadlineAfter(int timeout) {
    return Clock::now() + waitFor(timeout);
}

Clock::time_point TrySlots::next() {
    end_ = Clock::time_point::max() - end_ < slot_ ? Clock::time_point::max() : end_ + slot_;
    return std::min(Clock::now() + slot_, end_);
}

int sendUntil(int sock, const unsigned char* data, int length, const sockaddr* to,
              socklen_t toLength, Clock::time_point deadline) {
    for (;;) {
        const ssize_t sent =
            ::sendto(sock, data, static_cast<size_t>(length), MSG_DONTWAIT, to, toLength);
        if (sent >= 0) return static_cast<int>(sent);
        const int err = errno;
        if (err == EINTR) continue;
        if (err != EAGAIN && err != EWOULDBLOCK) return -1;
        if (pollUntil(sock, POLLOUT, deadline) == 0) return -1;
    }
}

int waitUntil(int sock, sockaddr_in* from, unsigned char* packet, int datalen,
              Clock::time_point deadline, timeval* received) {
    int result = kStatusTimedOut;
    if (pollUntil(sock, POLLIN, deadline) != 0) {
        result = static_cast<int>(receiveTimed(
            sock, packet, static_cast<size_t>(datalen > 0 ? datalen : 0), 0, from, received));
    }
    printWaitResult(result);
    return result;
}

int waitDeliveryUntil(int sock, unsigned char* packet, int datalen, Clock::time_point deadline,
                      Delivery* delivery) {
    const size_t room = static_cast<size_t>(datalen > 0 ? datalen : 0);
    for (;;) {
        const short ready = pollUntil(sock, POLLIN, deadline);
        if (ready == 0) break;
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
        const int result = static_cast<int>(got);
        printWaitResult(result);
        return result;
    }
    printWaitResult(kStatusTimedOut);
    return kStatusTimedOut;
}

}  // namespace orvela::icmp
