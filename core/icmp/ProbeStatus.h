#pragma once

namespace orvela::icmp {

// The status codes the route trace and the latency probe report to their listeners, as the
// Java classes document them. Some numbers stand for two outcomes.
enum ProbeStatus : int {
    kStatusAnswered = 0,
    // Latency: no reply in any try, or a socket could not be opened. Trace: a receive failed,
    // or the receive socket could not be opened.
    kStatusFailed = -1,
    kStatusEmptyReceive = -4,
    kStatusNoRawSocket = -5,
    kStatusSocketOptionFailed = -6,
    kStatusUnreachable = -6,  // network, host, fragmentation or source route
    kStatusNoMemory = -11,
    kStatusTimedOut = -12,
    kStatusNoIcmpProtocol = -13,
};

}  // namespace orvela::icmp
