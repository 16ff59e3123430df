// print on any datagram. The sender is always 127.0.0.1, which the hosts file names, so that
// no input makes the name look-up ask a name server.

#include <arpa/inet.h>
#include <netinet/in.h>

#include "core/icmp/ProbeText.h"
#include "tests/icmp/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orvela::fuzz::FuzzInput input(data, size);
    int length = 0;
    auto datagram = input.rest(&length);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    print(datagram.get(), length, &from);
    return 0;
}
