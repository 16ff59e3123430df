#pragma once

// Opening and setting up the raw sockets of icmpprobe.

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

// Lets only echo replies through to a raw ICMP socket. Best effort: false when refused.
bool acceptOnlyEchoReplies(int fd);

}  // namespace orvela::icmp
