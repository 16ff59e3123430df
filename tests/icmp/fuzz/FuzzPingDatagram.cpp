// The ping receive loop's handling of one datagram, as a raw socket delivers it (IPv4 header
// first), as a datagram socket does (the ICMP message alone) and as an ICMPv6 socket does: this
// process's identifier, the sender and the reception time come first.

#include <netinet/in.h>
#include <sys/time.h>

#include <cstring>

#include "core/icmp/PingService.h"
#include "tests/icmp/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orvela::fuzz::FuzzInput input(data, size);
    const auto identifier = static_cast<uint16_t>(input.take(2));
    const uint32_t sender = input.take(4);
    timeval now{};
    now.tv_sec = static_cast<time_t>(input.take(4));
    now.tv_usec = static_cast<suseconds_t>(input.take(4) % 1000000);
    int length = 0;
    auto datagram = input.rest(&length);
    for (const auto handle : {orvela::icmp::handleDatagram, orvela::icmp::handleIcmpMessage}) {
        const auto reply =
            handle(datagram.get(), static_cast<size_t>(length), sender, identifier, now);
        if (reply && reply->type != 0) __builtin_trap();
    }
    in6_addr sender6{};
    std::memcpy(&sender6, &sender, sizeof sender);
    const auto reply6 = orvela::icmp::handleIcmp6Message(
        datagram.get(), static_cast<size_t>(length), sender6, identifier, now);
    if (reply6 && (reply6->type != 129 || reply6->family != AF_INET6)) __builtin_trap();
    return 0;
}
