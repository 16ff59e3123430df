// A trace and a latency probe to 127.0.0.1 without Java (a null JNIEnv), with the diagnostic
// lines on. Raw sockets need CAP_NET_RAW; without it the cases are skipped.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "binding/ScopedFd.h"
#include "core/icmp/LatencyProbe.h"
#include "core/icmp/RouteTrace.h"
#include "tests/icmp/trace/VerboseOutput.h"

namespace {

using orvela::test::VerboseOutput;

constexpr long kLoopback = 0x7f000001;

bool rawSockets() {
    return orvela::ScopedFd(createSendSocket(64)).get() >= 0;
}

TEST(LoopbackTest, TraceEndsAtTheFirstHopWithThePortUnreachable) {
    if (!rawSockets()) GTEST_SKIP() << "no raw sockets";
    const orvela::ScopedFd sock(createSendSocket(64));
    VerboseOutput out;
    const int rc = start_trace(sock.get(), 777, kLoopback, 0, 10, -1, 2000, nullptr, nullptr);
    const std::string text = out.text();
    EXPECT_EQ(rc, 0);
    // The port unreachable (20 + 8 + 64 bytes) is cut to the 64-byte receive buffer.
    EXPECT_NE(text.find("wait_for_reply:: Returning 64 \n"), std::string::npos) << text;
    EXPECT_NE(text.find(" localhost (127.0.0.1) 44 bytes to 127.0.0.1"), std::string::npos) << text;
    EXPECT_NE(text.find("\nReturning id: 777, seq: 1, dest:2130706433, rc:0, rt:"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(", len:64, done:1\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("ttl 2\n"), std::string::npos) << text;
}

TEST(LoopbackTest, LatencyProbeMatchesTheReplyNotItsOwnRequest) {
    if (!rawSockets()) GTEST_SKIP() << "no raw sockets";
    VerboseOutput out;
    const int rc = start_test(555, kLoopback, 64, 100, 0, 2000, nullptr, nullptr);
    const std::string text = out.text();
    EXPECT_EQ(rc, 0) << text;
    EXPECT_NE(text.find("&&&&&&&&&&&&&&&& SO_SNDBUF \n\n"
                        "&&&&&&&&&&&&&&&& IP_HDRINCL \n\n"
                        "[ping-555-0]going to send 100 bytes to 127.0.0.1\n"
                        "Sent 100 bytes at "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(" === ICMP packet, type: 0, code: 0, from 127.0.0.1\n"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("[ping-555-1]"), std::string::npos) << text;  // one try was enough
}

// Probes to addresses of their own on the loopback network, all answered. latency-flood.sh runs
// this case under strace beside a flood of other ICMP: the probes' receive sockets return from
// recvmsg once per probe, since the kernel holds back everything that isn't their own answer.
TEST(LoopbackTest, LatencyProbesToAddressesOfTheirOwnAreEachAnswered) {
    if (!rawSockets()) GTEST_SKIP() << "no raw sockets";
    constexpr int kProbes = 100;
    // 127.x.y.1 to 127.x.y.100, x.y from the process id: other processes' probes go elsewhere.
    const uint32_t network = 0x7F000000u | (static_cast<uint32_t>(getpid()) & 0xFFFFu) << 8;
    int answered = 0;
    for (int i = 1; i <= kProbes; ++i) {
        const auto id = static_cast<unsigned short>(20000 + i);
        if (start_test(id, network | static_cast<uint32_t>(i), 64, 64, 0, 2000, nullptr, nullptr) ==
            0) {
            ++answered;
        }
    }
    EXPECT_EQ(answered, kProbes);
    printf("latency probes answered: %d\n", answered);
}

// A trace without a send socket reports the failed open's status at once.
TEST(LoopbackTest, SetUpFailureLine) {
    for (const int status : {-5, -6}) {
        VerboseOutput out;
        EXPECT_EQ(start_trace(status, 1, kLoopback, 0, 5000, 0, 100, nullptr, nullptr), status);
        EXPECT_EQ(out.text(), "\nReturning id: 1, seq: 0, dest:0, rc:" + std::to_string(status) +
                                  ", rt:-1, len:1024, done:1\n");
    }
}

}  // namespace
