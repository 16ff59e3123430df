// The packet checks, the checksum and the two datagrams as they are built, without a network.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "binding/ScopedFd.h"
#include "core/icmp/InternetChecksum.h"
#include "core/icmp/LatencyProbe.h"
#include "core/icmp/ProbeText.h"
#include "core/icmp/RouteTrace.h"
#include "tests/icmp/Datagrams.h"
#include "tests/icmp/trace/VerboseOutput.h"

namespace {

using orvela::test::Bytes;
using orvela::test::icmp;
using orvela::test::ip;
using orvela::test::put16;
using orvela::test::udp;
using orvela::test::VerboseOutput;
using orvela::test::operator+;

unsigned get16(const unsigned char* p) {
    return (unsigned{p[0]} << 8) | p[1];
}

// An IPv4 header of `words` 32-bit words carrying `protocol`, from 198.18.0.2 to 198.18.0.1.
Bytes ipHeader(int protocol, int words = 5) {
    return ip(protocol, 0xC6120002, 0xC6120001, words);
}

// An ICMP error as a router or the destination sends it, quoting a trace probe.
Bytes traceAnswer(int type, int code, unsigned sport, unsigned dport, int quotedWords = 5,
                  int quotedProtocol = IPPROTO_UDP) {
    return ipHeader(IPPROTO_ICMP) + icmp(type, code, 0, 0) + ipHeader(quotedProtocol, quotedWords) +
           udp(sport, dport);
}

// An echo message (reply 0, request 8) with identifier and sequence number.
Bytes echo(int type, unsigned id, unsigned seq) {
    return ipHeader(IPPROTO_ICMP) + icmp(type, 0, id, seq) + Bytes(28, 0);
}

// An ICMP error quoting a latency probe's echo request.
Bytes latencyAnswer(int type, int code, unsigned id, unsigned seq, int quotedWords = 5) {
    return ipHeader(IPPROTO_ICMP) + icmp(type, code, 0, 0) + ipHeader(IPPROTO_ICMP, quotedWords) +
           icmp(8, 0, id, seq);
}

sockaddr_in sender() {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0xC6120002);  // 198.18.0.2
    return from;
}

// An exact-size copy of a datagram, so that a read past the received bytes is caught by ASan.
std::unique_ptr<unsigned char[]> exactCopy(const Bytes& d) {
    std::unique_ptr<unsigned char[]> exact(new unsigned char[d.empty() ? 1 : d.size()]);
    if (!d.empty()) std::memcpy(exact.get(), d.data(), d.size());
    return exact;
}

int packetOk(const Bytes& d, int id, int seq) {
    const sockaddr_in from = sender();
    return packet_ok(id, exactCopy(d).get(), static_cast<int>(d.size()), &from, seq);
}

int pingPacketOk(const Bytes& d, int id, int seq) {
    const sockaddr_in from = sender();
    return ping_packet_ok(id, exactCopy(d).get(), static_cast<int>(d.size()), &from, seq);
}

constexpr int kId = 0x4321;
constexpr int kSeq = 7;
const unsigned kPort = 33434 + kSeq;

TEST(PacketOkTest, AcceptsTheAnswersThatQuoteTheCurrentProbe) {
    EXPECT_EQ(packetOk(traceAnswer(11, 0, kId, kPort), kId, kSeq), -1);
    EXPECT_EQ(packetOk(traceAnswer(3, 3, kId, kPort), kId, kSeq), 4);    // port unreachable
    EXPECT_EQ(packetOk(traceAnswer(3, 2, kId, kPort), kId, kSeq), 3);    // protocol unreachable
    EXPECT_EQ(packetOk(traceAnswer(3, 1, kId, kPort), kId, kSeq), 2);    // host unreachable
    EXPECT_EQ(packetOk(traceAnswer(3, 13, kId, kPort), kId, kSeq), 14);  // prohibited
    EXPECT_EQ(packetOk(traceAnswer(3, 255, kId, kPort), kId, kSeq), 256);
    // A quoted header with options moves the UDP ports back.
    EXPECT_EQ(packetOk(traceAnswer(11, 0, kId, kPort, 7), kId, kSeq), -1);
    // The destination port wraps with the sequence number.
    EXPECT_EQ(packetOk(traceAnswer(11, 0, kId, 4), kId, 65535 - 33434 + 5), -1);
}

TEST(PacketOkTest, IgnoresEverythingElse) {
    EXPECT_EQ(packetOk(traceAnswer(11, 0, kId + 1, kPort), kId, kSeq), 0);
    EXPECT_EQ(packetOk(traceAnswer(11, 0, kId, kPort + 1), kId, kSeq), 0);
    EXPECT_EQ(packetOk(traceAnswer(11, 0, kId, kPort, 5, IPPROTO_TCP), kId, kSeq), 0);
    EXPECT_EQ(packetOk(traceAnswer(11, 1, kId, kPort), kId, kSeq), 0);  // reassembly time-out
    EXPECT_EQ(packetOk(traceAnswer(5, 0, kId, kPort), kId, kSeq), 0);
    EXPECT_EQ(packetOk(echo(0, kId, kPort), kId, kSeq), 0);
}

TEST(PacketOkTest, RejectsHeadersTooShortToHoldTheirFields) {
    Bytes outer = traceAnswer(11, 0, kId, kPort);
    outer[0] = 0x44;  // outer header length 16
    EXPECT_EQ(packetOk(outer, kId, kSeq), 0);
    Bytes quoted = traceAnswer(11, 0, kId, kPort);
    quoted[28] = 0x41;  // quoted header length 4: its protocol byte would lie in the UDP header
    EXPECT_EQ(packetOk(quoted, kId, kSeq), 0);
    quoted[28] = 0x40;
    EXPECT_EQ(packetOk(quoted, kId, kSeq), 0);
}

TEST(PacketOkTest, NeverReadsPastTheBytesReceivedAtAnyLength) {
    const Bytes full = traceAnswer(3, 3, kId, kPort, 6);
    VerboseOutput lines;
    // Accepted from the two quoted ports on: outer header, ICMP header, quoted header.
    const size_t needed = 20 + 8 + 24 + 4;
    for (size_t n = 0; n <= full.size(); ++n) {
        const Bytes cut(full.begin(), full.begin() + static_cast<long>(n));
        EXPECT_EQ(packetOk(cut, kId, kSeq), n < needed ? 0 : 4) << n;
    }
    // The dump of a message that is not a whole number of words stops at its end.
    EXPECT_EQ(packetOk(traceAnswer(5, 1, kId, kPort) + Bytes{1, 2, 3}, kId, kSeq), 0);
    const std::string out = lines.text();
    EXPECT_NE(out.find("packet too short (7 bytes) from 198.18.0.2\n"), std::string::npos);
    // 39 bytes of ICMP: words from byte 8 to byte 36, the last one padded, labelled 4 to 32.
    EXPECT_NE(out.find("32: x"), std::string::npos);
    EXPECT_EQ(out.find("36: x"), std::string::npos);
}

TEST(PingPacketOkTest, MatchesRepliesAndErrorsOfTheCurrentTry) {
    EXPECT_EQ(pingPacketOk(echo(0, 101, 2), 101, 2), 0);
    EXPECT_EQ(pingPacketOk(echo(0, 102, 2), 101, 2), -1);
    EXPECT_EQ(pingPacketOk(echo(0, 101, 1), 101, 2), -1);
    EXPECT_EQ(pingPacketOk(latencyAnswer(3, 1, 101, 2), 101, 2), 3);
    EXPECT_EQ(pingPacketOk(latencyAnswer(11, 0, 101, 2, 6), 101, 2), 11);
    EXPECT_EQ(pingPacketOk(latencyAnswer(3, 1, 101, 3), 101, 2), -1);
    // The request itself, looped back on its way to one of this host's addresses.
    EXPECT_EQ(pingPacketOk(echo(8, 101, 2), 101, 2), -1);
    Bytes udp = echo(0, 101, 2);
    udp[9] = IPPROTO_UDP;
    EXPECT_EQ(pingPacketOk(udp, 101, 2), -1);
    // Identifiers compare in 16 bits.
    EXPECT_EQ(pingPacketOk(echo(0, 100, 0), 65536 + 100, 0), 0);
    // A trace probe's error: its UDP length 101 and checksum 0 sit where identifier and
    // sequence number would be, but the quoted datagram isn't ICMP.
    Bytes traceError = traceAnswer(11, 0, kId, kPort);
    put16(traceError, 20 + 8 + 20 + 4, 101);
    EXPECT_EQ(pingPacketOk(traceError, 101, 0), -1);
}

TEST(PingPacketOkTest, NeverReadsPastTheBytesReceivedAtAnyLength) {
    const Bytes full = latencyAnswer(3, 1, 101, 2, 6);
    VerboseOutput lines;
    for (size_t n = 0; n < full.size(); ++n) {
        const Bytes cut(full.begin(), full.begin() + static_cast<long>(n));
        EXPECT_EQ(pingPacketOk(cut, 101, 2), -1) << n;
    }
    EXPECT_EQ(pingPacketOk(full, 101, 2), 3);
    Bytes shortQuote = latencyAnswer(3, 1, 101, 2);
    shortQuote[28] = 0x42;
    EXPECT_EQ(pingPacketOk(shortQuote, 101, 2), -1);
    const std::string out = lines.text();
    EXPECT_NE(out.find(" >>>> deliver() too few bytes received\n"), std::string::npos);
    EXPECT_NE(out.find(" === ICMP packet, type: 3, code: 1, from 198.18.0.2\n"), std::string::npos);
}

TEST(DeltaTTest, TakesSecondsAndMicrosecondsApart) {
    const timeval t1{1, 900000};
    const timeval t2{3, 100000};
    EXPECT_DOUBLE_EQ(deltaT(&t1, &t2), 1200.0);
    EXPECT_DOUBLE_EQ(deltaT(&t2, &t1), -1200.0);
}

TEST(SendProbeTest, BuildsTheProbeDatagram) {
    Bytes out(100, 0);
    out[1] = 16;  // type of service and destination are the trace's own
    const unsigned char dst[] = {198, 18, 3, 2};
    std::memcpy(&out[16], dst, 4);
    sockaddr_in whereto{};
    timeval sent{};
    send_probe(-1, 0x1234, 300, 259, reinterpret_cast<sockaddr*>(&whereto), out.data(), 100, &sent);
    const Bytes want = {0x45, 16,  0,  100, 0x12, 0x34, 0,    0,    3,    17, 0,  0, 0, 0,  0,
                        0,    198, 18, 3,   2,    0x12, 0x34, 0x83, 0xc6, 0,  80, 0, 0, 44, 3};
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 30), want);
    EXPECT_EQ(Bytes(out.begin() + 30, out.end()), Bytes(70, 0));
    EXPECT_NE(sent.tv_sec, 0);
}

TEST(SendProbeTest, DumpsEveryWordWithoutReadingPastTheProbe) {
    std::unique_ptr<unsigned char[]> out(new unsigned char[66]());
    sockaddr_in whereto{};
    timeval sent{};
    VerboseOutput lines;
    send_probe(-1, 1, 1, 1, reinterpret_cast<sockaddr*>(&whereto), out.get(), 66, &sent);
    const std::string out1 = lines.text();
    EXPECT_EQ(out1.find("send_probe:: IP Version is 4 \n"
                        "send_probe:: Sending probe length 66 ttl 1\n"
                        "send_probe:: destination port is 33435 \n"
                        "send_probe:: source port is 1 \n"
                        "send_probe:: id is \n"
                        "\ncontents of probe follows:\n"
                        " 0: x"),
              0u);
    EXPECT_NE(out1.find("\n64: x00000000\nsend_probe:: wrote 66 chars, ret=-1\n"),
              std::string::npos);
}

TEST(SendPingPacketTest, BuildsTheEchoDatagram) {
    Bytes out(100, 0xAA);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(0xC6120302);
    timeval before{};
    gettimeofday(&before, nullptr);
    EXPECT_EQ(sendPingPacket(-1, out.data(), 65535, 2, 256, 100, &to), -1.0);
    EXPECT_EQ(out[0], 0x45);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(get16(&out[2]), 100u);
    EXPECT_EQ(get16(&out[4]), 1u);  // identifier + try, 16 bits
    EXPECT_EQ(out[8], 0);           // time to live 256: its low 8 bits
    EXPECT_EQ(out[9], 1);
    EXPECT_EQ(in_cksum(reinterpret_cast<const unsigned short*>(out.data()), 20), 0);
    EXPECT_EQ(Bytes(out.begin() + 16, out.begin() + 20), Bytes({198, 18, 3, 2}));
    EXPECT_EQ(out[20], 8);
    EXPECT_EQ(out[21], 0);
    EXPECT_EQ(in_cksum(reinterpret_cast<const unsigned short*>(&out[20]), 80), 0);
    EXPECT_EQ(get16(&out[24]), 65535u);
    EXPECT_EQ(get16(&out[26]), 2u);
    int32_t seconds = 0;
    std::memcpy(&seconds, &out[48], 4);
    EXPECT_GE(seconds, before.tv_sec);
    EXPECT_EQ(Bytes(out.begin() + 28, out.begin() + 48), Bytes(20, 0));
    EXPECT_EQ(Bytes(out.begin() + 56, out.end()), Bytes(44, 0));
}

TEST(WaitForReplyTest, ReceivesOneDatagramOrTimesOut) {
    int closedNumber = -1;
    unsigned char packet[8];
    sockaddr_in from{};
    {
        const orvela::ScopedFd rxSocket(socket(AF_INET, SOCK_DGRAM, 0));
        const orvela::ScopedFd txSocket(socket(AF_INET, SOCK_DGRAM, 0));
        const int rx = rxSocket.get();
        const int tx = txSocket.get();
        ASSERT_GE(rx, 0);
        ASSERT_GE(tx, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(rx, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
        socklen_t len = sizeof at;
        ASSERT_EQ(getsockname(rx, reinterpret_cast<sockaddr*>(&at), &len), 0);

        EXPECT_EQ(wait_for_reply(rx, &from, packet, sizeof packet, 20), -12);

        const char twelve[] = "twelve bytes";
        ASSERT_EQ(sendto(tx, twelve, 12, 0, reinterpret_cast<sockaddr*>(&at), sizeof at), 12);
        EXPECT_EQ(wait_for_reply(rx, &from, packet, sizeof packet, 1000), 8);  // cut to the buffer
        EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
        EXPECT_EQ(std::memcmp(packet, "twelve b", 8), 0);
        closedNumber = rx;
    }
    EXPECT_EQ(wait_for_reply(closedNumber, &from, packet, sizeof packet, 20),
              -12);  // closed descriptor
}

}  // namespace
