// The latency probe's ICMPv6 reader on any message, and its IPv6 kernel filter against it:
// whatever the reader of a raw socket accepts, the filter must let through. A flags byte (a
// queued error, from ICMP, from the probed host, a datagram socket's identifier, another try)
// comes first; the probed host, the identifier and the try are taken from what an error quotes
// (so that the fuzzer needn't guess them), else from a fixed address and the message's own
// header.

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "core/icmp/IcmpLayout.h"
#include "core/icmp/LatencyProbe.h"
#include "core/icmp/ProbeFilter.h"
#include "tests/icmp/fuzz/FuzzInput.h"

namespace {
orvela::fuzz::FilterCheck filterCheck;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace orvela::icmp;
    orvela::fuzz::FuzzInput input(data, size);
    const uint32_t flags = input.take(1);
    int length = 0;
    auto message = input.rest(&length);
    const unsigned char* m = message.get();

    in6_addr probed{};
    probed.s6_addr[0] = 0x20;
    probed.s6_addr[15] = 5;
    uint16_t identifier = length >= 6 ? read16(m + kIcmpIdentifierAt) : 0;
    int seq = length >= 8 ? read16(m + kIcmpSequenceAt) : 0;
    constexpr int kQuotedEchoAt = kIcmpHeaderLength + kIp6HeaderLength;
    if (length >= kQuotedEchoAt + kIcmpHeaderLength) {
        std::memcpy(&probed, m + kIcmpHeaderLength + kIp6DestinationAt, sizeof probed);
        identifier = read16(m + kQuotedEchoAt + kIcmpIdentifierAt);
        seq = read16(m + kQuotedEchoAt + kIcmpSequenceAt);
    }
    if ((flags & 16) != 0) seq ^= 1;
    Delivery delivery;
    delivery.queuedError = (flags & 1) != 0;
    delivery.error.fromIcmp = (flags & 2) != 0;
    delivery.error.type = static_cast<uint8_t>(flags >> 5);
    delivery.error.quotedTo.v6.sin6_family = AF_INET6;
    delivery.error.quotedTo.v6.sin6_addr = probed;
    delivery.from.v6.sin6_family = AF_INET6;
    delivery.from.v6.sin6_addr = probed;
    if ((flags & 4) != 0) delivery.from.v6.sin6_addr.s6_addr[15] ^= 1;
    const bool kernels = (flags & 8) != 0;

    const int type =
        echo6AnswerType(kernels ? nullptr : &identifier, probed, seq, m, length, delivery);
    if (type < -1 || type > 255) __builtin_trap();
    if (type == ICMP6_ECHO_REPLY && (flags & 4) != 0 && !delivery.queuedError) __builtin_trap();
    if (type == -1 || delivery.queuedError || kernels) return 0;

    filterCheck.mustPass(latencyProbeFilter6(identifier, probed), m, length);
    return 0;
}
