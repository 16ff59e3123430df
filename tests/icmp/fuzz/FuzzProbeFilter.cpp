// The trace's kernel filter against packet_ok: whatever the trace accepts, the filter must let
// through. The trace's identifier and sequence number are taken from the ports the datagram
// quotes (so that the fuzzer needn't guess them); a count of further ports that the filter
// passes comes first.

#include <sys/socket.h>
#include <unistd.h>

#include "core/icmp/IcmpLayout.h"
#include "core/icmp/ProbeFilter.h"
#include "core/icmp/ProbeSettings.h"
#include "core/icmp/RouteTrace.h"
#include "tests/icmp/fuzz/FuzzInput.h"

namespace {
orvela::fuzz::FilterCheck filterCheck;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace orvela::icmp;
    orvela::fuzz::FuzzInput input(data, size);
    const uint32_t morePorts = input.take(2);
    int length = 0;
    auto datagram = input.rest(&length);
    const unsigned char* d = datagram.get();
    const int quotedAt = ipHeaderLength(d, length) + kIcmpHeaderLength;
    if (quotedAt >= length) return 0;
    const int portsAt = quotedAt + ipHeaderLength(d + quotedAt, length - quotedAt);
    if (portsAt + kUdpPortsLength > length) return 0;
    const uint16_t id = read16(d + portsAt + kUdpSourcePortAt);
    const auto seq = static_cast<uint16_t>(read16(d + portsAt + kUdpDestinationPortAt) - port);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    if (seq == 0 || packet_ok(id, d, length, &from, seq) == 0) return 0;

    const auto first = static_cast<uint16_t>(port + 1);
    filterCheck.mustPass(routeTraceFilter(id, first, seq + morePorts), d, length);
    return 0;
}
