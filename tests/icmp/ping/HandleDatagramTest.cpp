// The handling of one received datagram, from its bytes and sender to a report or a drop.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "core/icmp/PingService.h"

namespace {

using orvela::icmp::handleDatagram;
using orvela::icmp::PingReply;

constexpr uint16_t kOurs = 0x4321;
constexpr uint32_t kSender = 0x7F000001;

// An IPv4 datagram with `optionWords` words of options and an ICMP message of the given type,
// identifier, sequence number and send time.
std::vector<uint8_t> datagram(uint8_t type, uint16_t identifier, uint16_t sequence, int32_t sec,
                              int32_t usec, int optionWords = 0) {
    size_t ipHeader = 20 + 4 * static_cast<size_t>(optionWords);
    std::vector<uint8_t> bytes(ipHeader + 64, 0);
    bytes[0] = static_cast<uint8_t>(0x40 | (5 + optionWords));
    bytes[9] = 1;
    for (size_t i = 20; i < ipHeader; ++i) bytes[i] = 0x01;  // no-operation options
    uint8_t* icmp = bytes.data() + ipHeader;
    icmp[0] = type;
    icmp[4] = static_cast<uint8_t>(identifier >> 8);
    icmp[5] = static_cast<uint8_t>(identifier);
    icmp[6] = static_cast<uint8_t>(sequence >> 8);
    icmp[7] = static_cast<uint8_t>(sequence);
    std::memcpy(icmp + 8, &sec, 4);
    std::memcpy(icmp + 12, &usec, 4);
    return bytes;
}

std::optional<PingReply> handle(const std::vector<uint8_t>& bytes, size_t length, timeval now) {
    // An exact-size copy, so that a read past `length` is a sanitizer error.
    std::vector<uint8_t> exact(bytes.begin(), bytes.begin() + static_cast<long>(length));
    return handleDatagram(exact.data(), exact.size(), htonl(kSender), kOurs, now);
}

std::optional<PingReply> handle(const std::vector<uint8_t>& bytes, timeval now = {1000, 0}) {
    return handle(bytes, bytes.size(), now);
}

TEST(HandleDatagramTest, OurEchoReplyReportsSenderRequestIdAndRoundTrip) {
    auto reply = handle(datagram(0, kOurs, 7, 1000, 250000), timeval{1001, 750000});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->address, kSender);
    EXPECT_EQ(reply->reqID, 7);
    EXPECT_EQ(reply->roundtripTime, 1500);
    EXPECT_EQ(reply->type, 0);
    EXPECT_EQ(reply->sent.tv_sec, 1000);
    EXPECT_EQ(reply->sent.tv_usec, 250000);
}

TEST(HandleDatagramTest, RoundTripCountsBothPartsAndCutsTowardZero) {
    struct Case {
        timeval sent, now;
        int32_t millis;
        int64_t micros;
    } cases[] = {
        {{1000, 900000}, {1001, 100999}, 200, 200999},  // microseconds borrow from the seconds
        {{1000, 0}, {1000, 1999}, 1, 1999},
        {{1000, 0}, {1000, 999}, 0, 999},
        {{1000, 1999}, {1000, 0}, -1, -1999},  // a clock step back: negative, cut to -1 ms
    };
    for (const Case& c : cases) {
        auto reply = handle(datagram(0, kOurs, 1, static_cast<int32_t>(c.sent.tv_sec),
                                     static_cast<int32_t>(c.sent.tv_usec)),
                            c.now);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->roundtripTime, c.millis) << c.sent.tv_sec << "." << c.sent.tv_usec;
        EXPECT_EQ(reply->roundtripMicros, c.micros) << c.sent.tv_sec << "." << c.sent.tv_usec;
    }
}

// A clock reading of `seconds` since 1970; past 2038 only where time_t is 64-bit.
timeval at(int64_t seconds, long micros) {
    timeval t{};
    t.tv_sec = static_cast<time_t>(seconds);
    t.tv_usec = micros;
    return t;
}

// Requests carry their send time's seconds as 32 bits, compared as such: the clock goes on past
// 2038 (every build, 32-bit ones too, has a 64-bit time_t) and past 2106.
TEST(HandleDatagramTest, RoundTripPast2038) {
    ASSERT_EQ(sizeof(time_t), 8u) << "a 32-bit time_t can't read the clock past 2038";
    struct Case {
        int64_t sentSeconds;
        long sentMicros;
        int64_t nowSeconds;
        long nowMicros;
        int32_t millis;
    } cases[] = {
        {0x7FFFFFFF, 0, 0x80000000LL, 5000, 1005},
        {0x80000000LL + 100, 250000, 0x80000000LL + 101, 750000, 1500},
        {0xFFFFFFFFLL, 900000, 0x100000000LL, 100000, 200},
    };
    for (const Case& c : cases) {
        timeval sent = at(c.sentSeconds, c.sentMicros);
        auto reply = handle(datagram(0, kOurs, 1, static_cast<int32_t>(sent.tv_sec),
                                     static_cast<int32_t>(sent.tv_usec)),
                            at(c.nowSeconds, c.nowMicros));
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->roundtripTime, c.millis) << c.sentSeconds;
    }
}

TEST(HandleDatagramTest, ForgedSendTimesGiveABoundedRoundTrip) {
    auto far = handle(datagram(0, kOurs, 1, std::numeric_limits<int32_t>::min(),
                               std::numeric_limits<int32_t>::min()),
                      timeval{std::numeric_limits<int32_t>::max(), 999999});
    ASSERT_TRUE(far);
    auto back =
        handle(datagram(0, kOurs, 1, 0, std::numeric_limits<int32_t>::max()), timeval{0, 0});
    ASSERT_TRUE(back);
    EXPECT_EQ(back->roundtripTime, -2147483);
}

TEST(HandleDatagramTest, AHeaderLengthBelowTwentyOrBeyondTheDataIsDropped) {
    for (uint8_t ihl = 0; ihl < 5; ++ihl) {
        auto bytes = datagram(0, kOurs, 7, 1000, 0);
        bytes[0] = static_cast<uint8_t>(0x40 | ihl);
        EXPECT_FALSE(handle(bytes)) << int(ihl);
    }
    auto bytes = datagram(0, kOurs, 7, 1000, 0, 10);
    EXPECT_FALSE(handle(bytes, 60, timeval{1000, 0}));  // options end where the data ends
    EXPECT_FALSE(handle(bytes, 50, timeval{1000, 0}));
}

// Echo replies are reported, ours with their request id and time, and everything else dropped:
// over IPv4 the ICMP message behind an IPv4 header with `optionWords` words of options, over
// IPv6 the ICMPv6 message alone, whose echo reply is type 129. `length` counts the message.
TEST(HandleDatagramTest, EchoRepliesAreReportedAndEverythingElseDropped) {
    const in6_addr sender6 = IN6ADDR_LOOPBACK_INIT;
    struct Row {
        const char* what;
        bool ipv6;
        uint8_t type;
        uint16_t identifier;
        int optionWords;
        size_t length;
        bool reported;
        uint16_t reqID;
    } rows[] = {
        {"ours", false, 0, kOurs, 0, 64, true, 21},
        {"ours behind an option", false, 0, kOurs, 1, 64, true, 21},
        {"ours behind the longest header", false, 0, kOurs, 10, 64, true, 21},
        {"ours, just the send time", false, 0, kOurs, 2, 16, true, 21},
        {"ours, too short for the send time", false, 0, kOurs, 2, 15, false, 0},
        {"another process's", false, 0, kOurs + 1, 0, 64, true, 0},
        {"another process's, its header alone", false, 0, kOurs + 1, 0, 8, true, 0},
        {"too short for the header", false, 0, kOurs + 1, 0, 7, false, 0},
        {"destination unreachable", false, 3, kOurs, 0, 64, false, 0},
        {"redirect", false, 5, kOurs, 0, 64, false, 0},
        {"echo request", false, 8, kOurs, 0, 64, false, 0},
        {"time exceeded", false, 11, kOurs, 0, 64, false, 0},
        {"parameter problem", false, 12, kOurs, 0, 64, false, 0},
        {"timestamp", false, 13, kOurs, 0, 64, false, 0},
        {"timestamp reply", false, 14, kOurs, 0, 64, false, 0},
        {"type 255", false, 255, kOurs, 0, 64, false, 0},
        {"IPv6: ours", true, 129, kOurs, 0, 64, true, 21},
        {"IPv6: ours, just the send time", true, 129, kOurs, 0, 16, true, 21},
        {"IPv6: ours, too short for the send time", true, 129, kOurs, 0, 15, false, 0},
        {"IPv6: another process's, its header alone", true, 129, kOurs + 1, 0, 8, true, 0},
        {"IPv6: too short for the header", true, 129, kOurs + 1, 0, 7, false, 0},
        {"IPv6: an IPv4 echo reply's type", true, 0, kOurs, 0, 64, false, 0},
        {"IPv6: echo request", true, 128, kOurs, 0, 64, false, 0},
        {"IPv6: packet too big", true, 2, kOurs, 0, 64, false, 0},
    };
    for (const Row& row : rows) {
        auto bytes = datagram(row.type, row.identifier, 21, 1000, 250000, row.optionWords);
        const size_t header = 20 + 4 * static_cast<size_t>(row.optionWords);
        std::optional<PingReply> reply;
        if (row.ipv6) {
            // The ICMPv6 message alone, exactly `length` bytes of it.
            std::vector<uint8_t> message(bytes.begin() + 20, bytes.begin() + 20 + row.length);
            reply = orvela::icmp::handleIcmp6Message(message.data(), message.size(), sender6, kOurs,
                                                     timeval{1001, 750000});
        } else {
            reply = handle(bytes, header + row.length, timeval{1001, 750000});
        }
        ASSERT_EQ(reply.has_value(), row.reported) << row.what;
        if (!reply) continue;
        EXPECT_EQ(reply->family, row.ipv6 ? AF_INET6 : AF_INET) << row.what;
        if (row.ipv6) {
            EXPECT_EQ(std::memcmp(&reply->address6, &sender6, sizeof sender6), 0) << row.what;
        } else {
            EXPECT_EQ(reply->address, kSender) << row.what;
        }
        EXPECT_EQ(reply->type, row.ipv6 ? 129 : 0) << row.what;
        EXPECT_EQ(reply->reqID, row.reqID) << row.what;
        EXPECT_EQ(reply->roundtripMicros, row.reqID != 0 ? 1500000 : 0) << row.what;
        EXPECT_EQ(reply->roundtripTime, row.reqID != 0 ? 1500 : 0) << row.what;
    }
}

TEST(HandleDatagramTest, NoLengthOrHeaderLengthReadsPastTheData) {
    // Under the sanitizers, any read beyond `length` fails the test.
    for (int options = 0; options <= 10; ++options) {
        for (uint16_t id : {kOurs, static_cast<uint16_t>(kOurs ^ 1)}) {
            auto bytes = datagram(0, id, 3, 1000, 0, options);
            for (size_t length = 0; length <= bytes.size(); ++length) {
                for (uint8_t ihl = 0; ihl < 16; ++ihl) {
                    bytes[0] = static_cast<uint8_t>(0x40 | ihl);
                    auto reply = handle(bytes, length, timeval{1000, 0});
                    if (reply) {
                        EXPECT_LE(size_t{ihl} * 4 + 8, length);
                    }
                }
            }
        }
    }
}

}  // namespace
