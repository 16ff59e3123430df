// The receive sockets' kernel filters, run by the kernel itself: each program is attached to
// one end of a datagram socket pair and crafted IPv4 datagrams are sent through the other.
// Identifiers and ports are chosen so that a byte-order or sign slip changes the outcome.

#include "core/icmp/ProbeFilter.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "binding/ScopedFd.h"
#include "tests/icmp/Datagrams.h"

namespace {

using orvela::ScopedFd;
using namespace orvela::icmp;
using orvela::test::Bytes;
using orvela::test::ip;
using orvela::test::put16;
using orvela::test::udp;
using orvela::test::operator+;

constexpr uint16_t kId = 0xB234;          // the probe's identifier
constexpr uint16_t kSwappedId = 0x34B2;   // the same two bytes the other way round
constexpr uint32_t kProbed = 0xC6120001;  // 198.18.0.1
constexpr uint32_t kOther = 0xC6120002;   // 198.18.0.2
constexpr uint16_t kPort = 0x8123;        // the trace's source port
constexpr uint16_t kFirst = 33435;        // its first destination port
constexpr uint32_t kPorts = 75;           // 25 hops of 3 probes

// An ICMP header with the probe's identifier unless told otherwise.
Bytes icmp(int type, int code, uint16_t id = kId, uint16_t seq = 1) {
    return orvela::test::icmp(type, code, id, seq);
}

// What the probed host or a router sends back: the outer header comes from `from`.
Bytes answer(uint32_t from, const Bytes& message, int words = 5) {
    return ip(IPPROTO_ICMP, from, 0x7F000001, words) + message;
}

// An echo request of the latency probe, and a trace probe, as an error quotes them.
Bytes quotedEcho(uint16_t id = kId, uint32_t to = kProbed, int words = 5) {
    return ip(IPPROTO_ICMP, 0x7F000001, to, words) + icmp(8, 0, id);
}
Bytes quotedProbe(uint16_t destinationPort, uint16_t sourcePort = kPort, int words = 5) {
    return ip(IPPROTO_UDP, 0x7F000001, kProbed, words) + udp(sourcePort, destinationPort);
}

// An IPv6 header as an ICMPv6 error quotes it: next header `next`, to 2001:db8::(last).
constexpr uint8_t kProbed6 = 0x05;
Bytes ip6(int next, uint8_t last = kProbed6) {
    Bytes h(40, 0);
    h[0] = 0x60;
    h[6] = static_cast<unsigned char>(next);
    const unsigned char to[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, last};
    std::copy(to, to + 16, h.begin() + 24);
    return h;
}

in6_addr probed6() {
    in6_addr a{};
    const Bytes h = ip6(58);
    std::copy(h.begin() + 24, h.end(), a.s6_addr);
    return a;
}

Bytes cut(Bytes b, size_t drop) {
    b.resize(b.size() - drop);
    return b;
}

Bytes withHeaderWords(Bytes b, size_t at, int words) {
    b[at] = static_cast<unsigned char>(0x40 | words);
    return b;
}

// True when the kernel, running `program`, lets `datagram` through to the receiving end.
bool passes(const FilterProgram& program, const Bytes& datagram) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, ends) != 0) {
        ADD_FAILURE() << "socketpair: " << errno;
        return false;
    }
    ScopedFd sender(ends[0]);
    ScopedFd receiver(ends[1]);
    if (!attachFilter(receiver.get(), program)) {
        ADD_FAILURE() << "attachFilter: " << errno;
        return false;
    }
    EXPECT_EQ(::send(sender.get(), datagram.data(), datagram.size(), 0),
              static_cast<ssize_t>(datagram.size()));
    unsigned char got[2048];
    const ssize_t received = ::recv(receiver.get(), got, sizeof got, MSG_DONTWAIT);
    if (received < 0) return false;
    EXPECT_EQ(received, static_cast<ssize_t>(datagram.size())) << "passed, but not whole";
    return true;
}

TEST(ProbeFilterTest, PassesWhatTheReaderCouldAccept) {
    const FilterProgram latency = latencyProbeFilter(kId, kProbed);
    const FilterProgram trace = routeTraceFilter(kPort, kFirst, kPorts);
    const FilterProgram wrapping = routeTraceFilter(kPort, 65530, 10);  // 65530 to 3
    const FilterProgram anyPort = routeTraceFilter(kPort, kFirst, 65536);
    const FilterProgram ping = pingServiceFilter(kId);
    const FilterProgram ping6 = pingServiceFilter6(kId);
    const FilterProgram latency6 = latencyProbeFilter6(kId, probed6());
    const Bytes error6 = icmp(1, 1) + ip6(IPPROTO_ICMPV6) + icmp(128, 0);
    const Bytes reply = answer(kProbed, icmp(0, 0));
    struct Row {
        const char* what;
        const FilterProgram& program;
        Bytes datagram;
        bool passes;
    } rows[] = {
        {"latency: echo reply", latency, reply, true},
        {"latency: another host's reply", latency, answer(kOther, icmp(0, 0)), false},
        {"latency: another identifier", latency, answer(kProbed, icmp(0, 0, kSwappedId)), false},
        {"latency: its own request", latency, answer(kProbed, icmp(8, 0)), false},
        {"latency: other type with the id", latency, answer(kProbed, icmp(14, 0)), true},
        {"latency: cut in the identifier", latency, cut(reply, 3), false},
        {"latency: header under 20 bytes", latency, withHeaderWords(reply, 0, 4), false},
        {"latency: unreachable", latency, answer(kOther, icmp(3, 1) + quotedEcho()), true},
        {"latency: time exceeded, options", latency,
         answer(kOther, icmp(11, 0) + quotedEcho(kId, kProbed, 6), 6), true},
        {"latency: quotes another id", latency, answer(kOther, icmp(3, 1) + quotedEcho(kSwappedId)),
         false},
        {"latency: quotes another host", latency,
         answer(kOther, icmp(11, 0) + quotedEcho(kId, kOther)), false},
        {"latency: quotes UDP", latency, answer(kOther, icmp(3, 3) + quotedProbe(kId, kId)), false},
        {"latency: quoted id cut", latency, cut(answer(kOther, icmp(3, 1) + quotedEcho()), 3),
         false},
        {"latency: quoted header under 20", latency,
         withHeaderWords(answer(kOther, icmp(3, 1) + quotedEcho()), 28, 4), false},

        {"trace: time exceeded", trace, answer(kOther, icmp(11, 0) + quotedProbe(kFirst)), true},
        {"trace: port unreachable, last port", trace,
         answer(kProbed, icmp(3, 3) + quotedProbe(kFirst + kPorts - 1)), true},
        {"trace: options both", trace,
         answer(kOther, icmp(3, 13) + quotedProbe(kFirst + 9, kPort, 8), 6), true},
        {"trace: past the last port", trace,
         answer(kProbed, icmp(3, 3) + quotedProbe(kFirst + kPorts)), false},
        {"trace: before the first port", trace,
         answer(kProbed, icmp(3, 3) + quotedProbe(kFirst - 1)), false},
        {"trace: another source port", trace,
         answer(kProbed, icmp(3, 3) + quotedProbe(kFirst, 0x2381)), false},
        {"trace: reassembly time exceeded", trace,
         answer(kOther, icmp(11, 1) + quotedProbe(kFirst)), false},
        {"trace: quotes ICMP", trace, answer(kOther, icmp(11, 0) + quotedEcho(kPort)), false},
        {"trace: echo reply", trace, answer(kProbed, icmp(0, 0, kPort, 0x829C)), false},
        {"trace: destination port cut", trace,
         cut(answer(kOther, icmp(11, 0) + quotedProbe(kFirst)), 5), false},
        {"trace: wraps to 3", wrapping, answer(kProbed, icmp(3, 3) + quotedProbe(3)), true},
        {"trace: wraps, past it", wrapping, answer(kProbed, icmp(3, 3) + quotedProbe(4)), false},
        {"trace: wraps, before it", wrapping, answer(kProbed, icmp(3, 3) + quotedProbe(65529)),
         false},
        {"trace: any port", anyPort, answer(kProbed, icmp(3, 3) + quotedProbe(7)), true},
        {"trace: any port, other source", anyPort,
         answer(kProbed, icmp(3, 3) + quotedProbe(7, 0x2381)), false},

        // The ICMPv6 message alone, as a raw ICMPv6 socket hands it over.
        {"latency6: echo reply", latency6, icmp(129, 0), true},
        {"latency6: another identifier", latency6, icmp(129, 0, kSwappedId), false},
        {"latency6: its own request", latency6, icmp(128, 0), false},
        {"latency6: other type with the id", latency6, icmp(130, 0), false},
        {"latency6: unreachable", latency6, error6, true},
        {"latency6: packet too big", latency6, icmp(2, 0) + ip6(58) + icmp(128, 0), true},
        {"latency6: time exceeded", latency6, icmp(3, 0) + ip6(58) + icmp(128, 0), true},
        {"latency6: parameter problem", latency6, icmp(4, 0) + ip6(58) + icmp(128, 0), false},
        {"latency6: quotes another host", latency6, icmp(1, 0) + ip6(58, 6) + icmp(128, 0), false},
        {"latency6: quotes UDP", latency6, icmp(1, 4) + ip6(17) + icmp(128, 0), false},
        {"latency6: quotes a reply", latency6, icmp(1, 0) + ip6(58) + icmp(129, 0), false},
        {"latency6: quotes another id", latency6, icmp(1, 0) + ip6(58) + icmp(128, 0, kSwappedId),
         false},
        {"latency6: quoted id cut", latency6, cut(error6, 3), false},

        {"ping: echo reply", ping, reply, true},
        {"ping: echo reply, options", ping, answer(kOther, icmp(0, 0), 15), true},
        {"ping: another identifier", ping, answer(kProbed, icmp(0, 0, kSwappedId)), false},
        {"ping: echo request", ping, answer(kProbed, icmp(8, 0)), false},
        {"ping: cut in the identifier", ping, cut(reply, 3), false},

        // An ICMPv6 socket's filter sees the message from its first byte.
        {"ping6: echo reply", ping6, icmp(129, 0), true},
        {"ping6: another identifier", ping6, icmp(129, 0, kSwappedId), false},
        {"ping6: echo request", ping6, icmp(128, 0), false},
        {"ping6: cut in the identifier", ping6, cut(icmp(129, 0), 3), false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(passes(row.program, row.datagram), row.passes) << row.what;
    }
}

// A raw socket hands its filter the datagram from the IPv4 header on, as the programs expect,
// and what it queued before the filter was on is thrown away: of an echo reply to another
// identifier that came before and the probe's own that came after, only the latter is read.
TEST(ProbeFilterTest, RawSocketHearsOnlyItsOwnReply) {
    ScopedFd probe(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!probe) GTEST_SKIP() << "no raw sockets";
    ScopedFd observer(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    ASSERT_TRUE(observer);
    const auto ping = [&](uint16_t id) {
        Bytes request = icmp(8, 0, id, 9);
        const uint32_t sum = 0x0800u + id + 9;
        put16(request, 2, static_cast<uint16_t>(~(sum + (sum >> 16))));
        sockaddr_in loopback{};
        loopback.sin_family = AF_INET;
        loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::sendto(observer.get(), request.data(), request.size(), 0,
                        reinterpret_cast<const sockaddr*>(&loopback), sizeof loopback);
    };
    const auto receive = [](int fd, unsigned char(&got)[128]) {
        pollfd readable{fd, POLLIN, 0};
        return ::poll(&readable, 1, 10000) == 1 ? ::recv(fd, got, sizeof got, 0) : -1;
    };
    unsigned char got[128];
    ASSERT_EQ(ping(kSwappedId), 8);
    // Once the observer has the other reply, the probe's socket has it too. Other tests' pings
    // on the loopback reach the observer as well, and are passed over.
    for (ssize_t length = 0;
         length != 28 || got[20] != 0 || (got[24] << 8 | got[25]) != kSwappedId;) {
        length = receive(observer.get(), got);
        ASSERT_GT(length, 0);
    }

    ASSERT_TRUE(attachFilter(probe.get(), latencyProbeFilter(kId, INADDR_LOOPBACK)));
    ASSERT_EQ(ping(kId), 8);
    ASSERT_EQ(receive(probe.get(), got), 28);
    EXPECT_EQ(got[20], 0);  // the reply; not the requests, nor the reply to the other identifier
    EXPECT_EQ(got[24] << 8 | got[25], kId);
}

TEST(ProbeFilterTest, RefusedAttachSaysWhy) {
    errno = 0;
    EXPECT_FALSE(attachFilter(-1, pingServiceFilter(kId)));
    EXPECT_EQ(errno, EBADF);
}

}  // namespace
