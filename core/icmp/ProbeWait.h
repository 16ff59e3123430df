#pragma once

// Deadlines, waits, sends and receives of the route trace and the latency probe.

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <chrono>

#include "core/icmp/QueuedError.h"
#include "core/icmp/SocketAddress.h"

namespace orvela::icmp {

using Clock = std::chrono::steady_clock;

// The time-out a caller gave, in milliseconds; 0 or less stands for the default of 5 seconds.
Clock::duration waitFor(int timeout);
Clock::time_point deadlineAfter(int timeout);

// The deadlines of a series of tries (the probes of a hop, the tries of a latency probe): each
// try gets the time-out from its start, but not past the end of its own slot, the slots
// following one another from the first try on. Late wake-ups on a busy host so don't add up.
class TrySlots {
  public:
    explicit TrySlots(int timeout) : slot_(waitFor(timeout)), end_(Clock::now()) {}

    Clock::time_point next();

  private:
    Clock::duration slot_;
    Clock::time_point end_;
};

// Sends one datagram, waiting for room in the send buffer at most until `deadline`. The send
// buffer holds only a few datagrams, and those waiting for address resolution keep their room
// for seconds: a blocking send would outlast the probe's time-out. -1 when it can't go out.
int sendUntil(int sock, const unsigned char* data, int length, const sockaddr* to,
              socklen_t toLength, Clock::time_point deadline);

// Waits for one datagram until `deadline`: its length, kStatusTimedOut or -1 when the receive
// failed. `received` (may be null) gets the datagram's arrival time (see TimedReceive.h). Callers
// that drop a datagram call again with the same deadline, so a stream of unrelated ICMP can't
// stretch a probe's wait past its time-out.
int waitUntil(int sock, sockaddr_in* from, unsigned char* packet, int datalen,
              Clock::time_point deadline, timeval* received = nullptr);

// What a datagram socket of a probe delivered: a datagram, or an entry of its error queue.
struct Delivery {
    bool queuedError = false;
    QueuedError error;     // when queuedError
    SocketAddress from{};  // the datagram's sender, otherwise
    timeval received{};    // the datagram's arrival, otherwise
};

// waitUntil for a socket of either family that queues the ICMP errors about its sends
// (IP_RECVERR, IPV6_RECVERR), or for a raw ICMPv6 socket: the length received into `packet`,
// with what it was in `delivery`.
int waitDeliveryUntil(int sock, unsigned char* packet, int datalen, Clock::time_point deadline,
                      Delivery* delivery);

}  // namespace orvela::icmp
