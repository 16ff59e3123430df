#pragma once

// Receiving a datagram together with the time it arrived. The kernel stamps a datagram when it
// reaches the host; that stamp, not the moment a busy reader gets round to the datagram, is
// what round-trip times are measured to.

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>

namespace orvela::icmp {

// Asks the kernel to stamp each datagram that `fd` receives (SO_TIMESTAMPNS, else
// SO_TIMESTAMP). Best effort: false when neither is taken, and receives then read the clock.
// The first call also opens one socket that stays open for the life of the process, so that
// the kernel's stamping stays switched on (close-on-exec).
bool requestReceiveTimes(int fd);

// Receives one datagram like recvfrom (`from` may be null) and sets `received` to its arrival
// time: the kernel's stamp where the datagram carries one, else the clock read right after the
// receive. `received` is left alone when the receive fails.
ssize_t receiveTimed(int fd, void* buffer, size_t length, int flags, sockaddr_in* from,
                     timeval* received);
// The same for a socket whose senders are IPv6 addresses.
ssize_t receiveTimed(int fd, void* buffer, size_t length, int flags, sockaddr_in6* from,
                     timeval* received);

// Receives one datagram like recvmsg into `message`, which the caller set up (with room for
// the stamps among its control data), and sets `received` (may be null) as receiveTimed does.
ssize_t receiveMessageTimed(int fd, msghdr* message, int flags, timeval* received);

// The kernel's stamp among the control messages of a received `message`; false when there is
// none, or none that is plausible against `now` (the clock read after the receive): a stamp
// later than the receive, or a day before it, is a clock that was stepped, or a system that
// relayed the stamp unconverted.
bool receiveTimeOf(const msghdr& message, const timeval& now, timeval* received);

}  // namespace orvela::icmp
