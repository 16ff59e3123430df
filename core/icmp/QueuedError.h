#pragma once

// The ICMP and ICMPv6 errors the kernel queues on a datagram socket that asked for them
// (IP_RECVERR, IPV6_RECVERR): a router's time exceeded, a destination's unreachable, each about
// one of the socket's sends.

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "core/icmp/SocketAddress.h"

namespace orvela::icmp {

struct QueuedError {
    // false: the system's own error about a send (no ICMP message)
    bool fromIcmp = false;
    uint8_t type = 0;  // of the ICMP (ICMPv6 on an IPv6 socket) message
    uint8_t code = 0;
    SocketAddress offender{};  // who sent the ICMP message; zero when it is not known
    SocketAddress quotedTo{};  // destination (and UDP port) of the send the error concerns
    timeval received{};        // arrival of the ICMP message (see TimedReceive.h)
};

// Asks the kernel to queue the ICMP errors about the sends of `fd`, a socket of `family`
// (AF_INET or AF_INET6). False when refused.
bool requestQueuedErrors(int fd, sa_family_t family = AF_INET);

// Takes the socket error that each queued ICMP error also leaves pending: unread, it fails the
// socket's next send.
void takePendingError(int fd);

// Takes one entry off `fd`'s error queue without waiting. `buffer` gets what the ICMP message
// quoted of the send, from the header the socket itself wrote (ICMP echo header, or the UDP
// data); the result is its length, or -1 with errno set (EAGAIN when the queue is empty).
ssize_t receiveQueuedError(int fd, void* buffer, size_t length, QueuedError* error);

}  // namespace orvela::icmp
