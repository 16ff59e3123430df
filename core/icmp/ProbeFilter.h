#pragma once

// Kernel filters for the raw ICMP receive sockets: each socket is woken only for datagrams that
// its reader could accept. A raw IPv4 socket hands the filter the whole datagram from its IPv4
// header on. The readers still check everything themselves; the filter only spares them the
// wake-ups for everyone else's traffic, and passes every datagram they could take.

#include <linux/filter.h>
#include <netinet/in.h>

#include <cstdint>

namespace orvela::icmp {

// A classic BPF program, held in place so that building one can't fail.
struct FilterProgram {
    static constexpr int kCapacity = 32;
    sock_filter code[kCapacity];
    unsigned short length;
};

// The latency probe with `identifier`, probing the host at `destination` (an IPv4 address
// integer, first octet in the most significant byte). Passes an ICMP error (destination
// unreachable, time exceeded) that quotes an ICMP datagram to `destination` whose identifier
// is `identifier`; and any other ICMP message but an echo request that comes from
// `destination` and carries `identifier` in its own header (an echo reply, chiefly).
FilterProgram latencyProbeFilter(uint16_t identifier, uint32_t destination) noexcept;

// The latency probe with `identifier` over IPv6, on a raw ICMPv6 socket, which hands the filter
// the ICMPv6 message alone (no IPv6 header, so the sender can't be checked here). Passes an echo
// reply that carries `identifier`, and an ICMPv6 error (destination unreachable, packet too
// big, time exceeded) that quotes an echo request with `identifier` to `destination` right
// after the quoted IPv6 header.
FilterProgram latencyProbeFilter6(uint16_t identifier, const in6_addr& destination) noexcept;

// The route trace whose UDP probes leave from `sourcePort` for `destinationPorts` ports in a row
// from `firstDestinationPort` (counting on past 65535 to 0). Passes time exceeded in transit
// (code 0) and destination unreachable (any code) that quote such a probe. With 65536 ports or
// more, any destination port.
FilterProgram routeTraceFilter(uint16_t sourcePort, uint16_t firstDestinationPort,
                               uint32_t destinationPorts) noexcept;

// The ping service of the process whose requests carry `identifier`: passes echo replies that
// carry it.
FilterProgram pingServiceFilter(uint16_t identifier) noexcept;

// pingServiceFilter for a raw ICMPv6 socket, whose filter sees the ICMPv6 message from its first
// byte: passes ICMPv6 echo replies that carry `identifier`.
FilterProgram pingServiceFilter6(uint16_t identifier) noexcept;

// Attaches `program` to the socket `fd` (SO_ATTACH_FILTER), replacing any filter it had, and
// throws away what the socket had queued until then: attach before sending anything the socket
// should hear. False with errno set when the system refuses it; the socket then goes on
// unfiltered, and keeps its queue.
bool attachFilter(int fd, const FilterProgram& program) noexcept;

// Throws away what the socket `fd` has queued (a bounded number of datagrams), as attachFilter
// does once its program is on.
void dropQueued(int fd) noexcept;

}  // namespace orvela::icmp
