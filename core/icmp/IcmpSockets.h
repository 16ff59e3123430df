#pragma once

// Opening and setting up the raw sockets of icmpprobe.

#include <netinet/icmp6.h>

#include <cstdint>

#include "core/icmp/ProbeFilter.h"

namespace orvela::icmp {

// The set-up steps of a raw send socket, in their order.
enum class SendSocketStep { Socket, SendBuffer, HeaderIncluded, Done };

// A raw IPv4 send socket whose datagrams carry their own IPv4 header: the descriptor (the
// caller's to close), or -1 with the step that failed and its error number.
struct RawSendSocket {
    int fd = -1;
    SendSocketStep failedStep = SendSocketStep::Done;
    int err = 0;
};

// A send buffer of `sendBufferBytes`; each caller words its own failure.
RawSendSocket openRawSendSocket(int sendBufferBytes);

// The protocol number of the "icmp" entry, or -1 when the system has none.
int icmpProtocol();

// A raw IPv4 socket for `protocol` (ICMP) that the kernel wakes only for what `filter` passes
// and that carries each datagram's arrival time (see TimedReceive.h); both are best effort, the
// socket works without them. What arrived before the filter took hold is dropped unread. The
// descriptor (the caller's to close), or -1 with errno set when no socket could be opened.
int openRawReceiveSocket(int protocol, const FilterProgram& filter);

// True when `err`, from opening a raw socket, means the process lacks the privilege: the
// unprivileged sockets below are tried then.
bool refusedForPrivilege(int err);

// An ICMP echo socket of the datagram kind, which the kernel allows to the groups in
// net.ipv4.ping_group_range: bound to an identifier the kernel chose (never the process id,
// whose echo replies another socket may take), carrying each datagram's arrival time. The kernel
// hands it only the echo replies to its identifier, without their IPv4 header, and puts that
// identifier and the checksum into each request sent. The descriptor (the caller's to close)
// with `identifier` set, or -1 with errno set.
int openEchoDatagramSocket(uint16_t* identifier);

// A raw ICMPv6 socket that hears only the ICMPv6 types `types` lets through (ICMP6_FILTER) and,
// when `filter` is not null, what that program passes; the program sees the ICMPv6 message from
// its first byte, since a raw ICMPv6 socket delivers no IPv6 header. Each datagram carries its
// arrival time (see TimedReceive.h). What arrived before the filters took hold is dropped. The
// descriptor (the caller's to close), or -1 with errno set: when the socket can't be opened, or
// when the kernel refuses `types` (a socket that heard every type would mislead its reader); the
// BPF program and the stamps are best effort.
int openRawIcmp6Socket(const icmp6_filter& types, const FilterProgram* filter);

// The ICMPv6 echo socket of the datagram kind (net.ipv4.ping_group_range governs it too): bound
// to an identifier the kernel chose, carrying each datagram's arrival time. The kernel hands it
// only the echo replies to its identifier, as the ICMPv6 message alone, and fills in the
// identifier and the checksum of each request sent. The descriptor (the caller's to close) with
// `identifier` set, or -1 with errno set.
int openEchoDatagramSocket6(uint16_t* identifier);

// A UDP socket for the trace's probes, which needs no privilege: the ICMP errors about its sends
// are queued for it (QueuedError.h), with their arrival times. -1 with errno set.
int openUdpProbeSocket();

// Gives what `fd`, a socket of `family`, sends the time to live (IPv6: hop limit) `ttl` as a
// self-built IPv4 header would carry it: its low 8 bits, 0 standing for 1, since the system
// takes 1 to 255 (and 0 ends at the first hop as 1 does). False when refused.
bool setTimeToLive(int fd, sa_family_t family, int ttl);

// Lets only echo replies through to a raw ICMP socket. Best effort: false when refused.
bool acceptOnlyEchoReplies(int fd);

// openUdpProbeSocket for IPv6 probes: the ICMPv6 errors about its sends are queued for it.
int openUdpProbeSocket6();

}  // namespace orvela::icmp
