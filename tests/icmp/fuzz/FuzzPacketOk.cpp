// packet_ok on any datagram: the trace's identifier and sequence number come first.

#include "core/icmp/RouteTrace.h"
#include "tests/icmp/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orvela::fuzz::fuzzPacketCheck(data, size, packet_ok, -1, 256);
    return 0;
}
