// Datagrams received with their arrival time: the kernel's stamp, or the clock without one.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "binding/ScopedFd.h"
#include "core/icmp/TimedReceive.h"

namespace {

using orvela::ScopedFd;
using orvela::icmp::receiveTimed;
using orvela::icmp::receiveTimeOf;
using orvela::icmp::requestReceiveTimes;

timeval clockNow() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return now;
}

bool before(const timeval& a, const timeval& b) {
    return !timercmp(&a, &b, >);
}

// One datagram that waits 30 ms in a loopback socket before it is received.
struct Trial {
    timeval sent{}, waited{}, received{};
};

Trial oneDatagram(bool stamped) {
    Trial t;
    ScopedFd receiver(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ScopedFd sender(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    EXPECT_TRUE(receiver && sender);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(bind(receiver.get(), reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(getsockname(receiver.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    if (stamped) {
        EXPECT_TRUE(requestReceiveTimes(receiver.get()));
    }
    t.sent = clockNow();
    EXPECT_EQ(sendto(sender.get(), "x", 1, 0, reinterpret_cast<sockaddr*>(&address), length), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    t.waited = clockNow();
    char byte = 0;
    sockaddr_in from{};
    EXPECT_EQ(receiveTimed(receiver.get(), &byte, 1, 0, &from, &t.received), 1);
    EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    return t;
}

// The kernel's stamp is from before the wait; without one, the clock read at the receive is
// from after it. The kernel switches its stamps on a moment after the first socket of the
// system asks (they are then kept on), so a first datagram may still be stamped as it is read.
TEST(TimedReceiveTest, TheKernelsStampWhereAskedForElseTheClockAtTheReceive) {
    bool stampedOnArrival = false;
    for (int attempt = 0; attempt < 10 && !stampedOnArrival; ++attempt) {
        Trial t = oneDatagram(true);
        EXPECT_TRUE(before(t.sent, t.received)) << t.received.tv_sec;
        stampedOnArrival = before(t.received, t.waited);
    }
    EXPECT_TRUE(stampedOnArrival);

    Trial t = oneDatagram(false);
    EXPECT_TRUE(before(t.waited, t.received) && before(t.received, clockNow()));
}

// One control message of `level`, `type` and `data` of `size` bytes.
struct Control {
    alignas(cmsghdr) unsigned char bytes[CMSG_SPACE(32)] = {};
    msghdr message{};

    Control(int level, int type, const void* data, size_t size) {
        message.msg_control = bytes;
        message.msg_controllen = CMSG_SPACE(size);
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = level;
        c->cmsg_type = type;
        c->cmsg_len = CMSG_LEN(size);
        std::memcpy(CMSG_DATA(c), data, size);
    }
    Control(const Control&) = delete;  // the message points into its own bytes
};

TEST(TimedReceiveTest, OnlyAPlausibleStampOfEitherKindIsTaken) {
    const timeval now{1'700'000'000, 500'000};
    const timespec precise{1'700'000'000, 123'456'789};
    const timespec later{1'700'000'001, 0};
    const timespec twoDaysBefore{1'700'000'000 - 2 * 86400, 0};
    const timespec badNanos{1'700'000'000, 1'000'000'000};
    const timeval coarse{1'699'999'999, 999'999};
    const int64_t wide[2] = {1'700'000'000, 0};  // a format of another width
    struct Case {
        const char* what;
        Control control;
        bool taken;
        timeval expected;
    } cases[] = {
        {"nanoseconds",
         {SOL_SOCKET, SCM_TIMESTAMPNS, &precise, sizeof precise},
         true,
         {1'700'000'000, 123'456}},
        {"microseconds", {SOL_SOCKET, SCM_TIMESTAMP, &coarse, sizeof coarse}, true, coarse},
        {"after the receive", {SOL_SOCKET, SCM_TIMESTAMPNS, &later, sizeof later}, false, {}},
        {"days old",
         {SOL_SOCKET, SCM_TIMESTAMPNS, &twoDaysBefore, sizeof twoDaysBefore},
         false,
         {}},
        {"nanoseconds out of range",
         {SOL_SOCKET, SCM_TIMESTAMPNS, &badNanos, sizeof badNanos},
         false,
         {}},
        {"another level", {IPPROTO_IP, SCM_TIMESTAMPNS, &precise, sizeof precise}, false, {}},
        {"another length", {SOL_SOCKET, SCM_TIMESTAMPNS, wide, sizeof wide[0]}, false, {}},
    };
    for (const Case& c : cases) {
        timeval received{7, 7};
        EXPECT_EQ(receiveTimeOf(c.control.message, now, &received), c.taken) << c.what;
        const timeval expected = c.taken ? c.expected : timeval{7, 7};
        EXPECT_TRUE(received.tv_sec == expected.tv_sec && received.tv_usec == expected.tv_usec)
            << c.what;
    }
    msghdr none{};
    timeval received{};
    EXPECT_FALSE(receiveTimeOf(none, now, &received));
}

}  // namespace
