// ping_packet_ok on any datagram: the probe's identifier and sequence number come first.

#include "core/icmp/LatencyProbe.h"
#include "tests/icmp/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orvela::fuzz::fuzzPacketCheck(data, size, ping_packet_ok, -1, 255);
    return 0;
}
