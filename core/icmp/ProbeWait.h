#pragma once

// Time-outs, sends and receives of the route trace and the latency probe.

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include "binding/Deadline.h"
#include "core/icmp/QueuedError.h"
#include "core/icmp/SocketAddress.h"

namespace orvela::icmp {

// The time-out a caller gave, in milliseconds; 0 or less stands for the default of 5 seconds.
Deadline::Clock::duration probeTimeout(int timeout);
// The deadline of a wait that starts now with that time-out.
Deadline probeDeadline(int timeout);

// The deadlines of a series of tries (the probes of a hop, the tries of a latency probe): each
// try gets the time-out from its start, but not past the end of its own slot, the slots
// following one another from the first try on. Late wake-ups on a busy host so don't add up.
class TryDeadlines {
  public:
    explicit TryDeadlines(int timeout);

    Deadline next();

  private:
    Deadline::Clock::duration slot_;
    Deadline::Clock::time_point slotEnd_;
};

// Sends one datagram, waiting for room in the send buffer at most until `deadline`. The send
// buffer holds only a few datagrams, and those waiting for address resolution keep their room
// for seconds: a blocking send would outlast the probe's time-out. -1 when it can't go out.
int sendUntil(int sock, const unsigned char* data, int length, const sockaddr* to,
              socklen_t toLength, const Deadline& deadline);

// Waits for one datagram until `deadline` and receives it: its length, kStatusTimedOut or -1
// when the receive failed. `received` (may be null) gets the datagram's arrival time (see
// TimedReceive.h). Callers that drop a datagram call again with the same deadline, so a stream
// of unrelated ICMP can't stretch a probe's wait past its time-out.
int receiveUntil(int sock, sockaddr_in* from, unsigned char* packet, int datalen,
                 const Deadline& deadline, timeval* received = nullptr);

// What a datagram socket of a probe delivered: a datagram, or an entry of its error queue.
struct Delivery {
    bool queuedError = false;
    QueuedError error;     // when queuedError
    SocketAddress from{};  // the datagram's sender, otherwise
    timeval received{};    // the datagram's arrival, otherwise
};

// receiveUntil for a socket of either family that queues the ICMP errors about its sends
// (IP_RECVERR, IPV6_RECVERR), or for a raw ICMPv6 socket: the length received into `packet`,
// with what it was in `delivery`.
int receiveDeliveryUntil(int sock, unsigned char* packet, int datalen, const Deadline& deadline,
                         Delivery* delivery);

}  // namespace orvela::icmp
