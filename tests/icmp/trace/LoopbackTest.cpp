// A trace and a latency probe to 127.0.0.1 without Java (a null JNIEnv), with the diagnostic
// lines on. Raw sockets need CAP_NET_RAW; without it the cases are skipped.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "core/icmp/InternetChecksum.h"
#include "core/icmp/LatencyProbe.h"
#include "core/icmp/ProbeSettings.h"
#include "core/icmp/ProbeText.h"
#include "core/icmp/RouteTrace.h"

namespace {

constexpr long kLoopback = 0x7f000001;

class VerboseOutput {
  public:
    VerboseOutput() : saved_(verbose) {
        verbose = 1;
        testing::internal::CaptureStdout();
    }
    ~VerboseOutput() { verbose = saved_; }
    std::string text() {
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

  private:
    int saved_;
};

bool rawSockets() {
    const int probe = createSendSocket(64);
    if (probe < 0) return false;
    close(probe);
    return true;
}

TEST(Loopback, TraceEndsAtTheFirstHopWithThePortUnreachable) {
    if (!rawSockets()) GTEST_SKIP() << "no raw sockets";
    const int sock = createSendSocket(64);
    VerboseOutput out;
    const int rc = start_trace(sock, 777, kLoopback, 0, 10, -1, 2000, nullptr, nullptr);
    const std::string text = out.text();
    close(sock);
    EXPECT_EQ(0, rc);
    EXPECT_NE(std::string::npos, text.find("send_probe:: Sending probe length 64 ttl 1\n"
                                           "send_probe:: destination port is 33435 \n"
                                           "send_probe:: source port is 777 \n"))
        << text;
    // The port unreachable (20 + 8 + 64 bytes) is cut to the 64-byte receive buffer.
    EXPECT_NE(std::string::npos, text.find("wait_for_reply:: Returning 64 \n")) << text;
    EXPECT_NE(std::string::npos, text.find(" localhost (127.0.0.1) 44 bytes to 127.0.0.1")) << text;
    EXPECT_NE(std::string::npos,
              text.find("\nReturning id: 777, seq: 1, dest:2130706433, rc:0, rt:"))
        << text;
    EXPECT_NE(std::string::npos, text.find(", len:64, done:1\n")) << text;
    EXPECT_EQ(std::string::npos, text.find("ttl 2\n")) << text;
}

TEST(Loopback, LatencyProbeMatchesTheReplyNotItsOwnRequest) {
    if (!rawSockets()) GTEST_SKIP() << "no raw sockets";
    VerboseOutput out;
    const int rc = start_test(555, kLoopback, 64, 100, 0, 2000, nullptr, nullptr);
    const std::string text = out.text();
    EXPECT_EQ(0, rc) << text;
    EXPECT_NE(std::string::npos, text.find("&&&&&&&&&&&&&&&& SO_SNDBUF \n\n"
                                           "&&&&&&&&&&&&&&&& IP_HDRINCL \n\n"
                                           "[ping-555-0]going to send 100 bytes to 127.0.0.1\n"
                                           "Sent 100 bytes at "))
        << text;
    EXPECT_NE(std::string::npos, text.find(" === ICMP packet, type: 0, code: 0, from 127.0.0.1\n"))
        << text;
    EXPECT_EQ(std::string::npos, text.find("[ping-555-1]")) << text;  // one try was enough
}

TEST(Loopback, SetUpFailureLine) {
    VerboseOutput out;
    EXPECT_EQ(-6, start_trace(-6, 1, kLoopback, 0, 5000, 0, 100, nullptr, nullptr));
    EXPECT_EQ("\nReturning id: 1, seq: 0, dest:0, rc:-6, rt:-1, len:1024, done:1\n", out.text());
}

}  // namespace
