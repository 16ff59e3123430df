// packet_ok on any datagram: the trace's identifier and sequence number come first.

#include <netinet/in.h>

#include "core/icmp/trace_unix.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    orvela::fuzz::silenceStandardOutput();
    verbose = 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orvela::fuzz::FuzzInput input(data, size);
    const int id = static_cast<int>(input.take(2));
    const int seq = static_cast<int>(input.take(2));
    int length = 0;
    auto datagram = input.rest(&length);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    const int result = packet_ok(id, datagram.get(), length, &from, seq);
    if (result < -1 || result > 256) __builtin_trap();
    return 0;
}
