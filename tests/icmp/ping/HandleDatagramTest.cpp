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

    auto wrapped = handle(datagram(0, kOurs, 0xFFFF, 1000, 0));
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(wrapped->reqID, 0xFFFF);
    EXPECT_EQ(static_cast<int16_t>(wrapped->reqID), -1);
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

TEST(HandleDatagramTest, AnotherProcesssReplyIsReportedWithoutIdOrTime) {
    auto reply = handle(datagram(0, kOurs + 1, 7, 1000, 0));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->address, kSender);
    EXPECT_EQ(reply->reqID, 0);
    EXPECT_EQ(reply->roundtripTime, 0);

    // Its ICMP header alone is enough to report it.
    auto headerOnly = handle(datagram(0, kOurs + 1, 7, 1000, 0), 28, timeval{1000, 0});
    ASSERT_TRUE(headerOnly);
    EXPECT_EQ(headerOnly->reqID, 0);
}

TEST(HandleDatagramTest, EverythingButEchoRepliesIsDropped) {
    for (uint8_t type : {3, 5, 8, 11, 12, 13, 14, 255}) {
        EXPECT_FALSE(handle(datagram(type, kOurs, 7, 1000, 0))) << int(type);
    }
}

TEST(HandleDatagramTest, TheIcmpHeaderIsFoundAfterTheStatedIpHeaderLength) {
    auto withOptions = handle(datagram(0, kOurs, 21, 999, 0, 1));
    ASSERT_TRUE(withOptions);
    EXPECT_EQ(withOptions->reqID, 21);
    EXPECT_EQ(withOptions->roundtripTime, 1000);

    auto longest = handle(datagram(0, kOurs, 22, 999, 0, 10));  // 60-byte IPv4 header
    ASSERT_TRUE(longest);
    EXPECT_EQ(longest->reqID, 22);
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

TEST(HandleDatagramTest, OurReplyTooShortForTheSendTimeIsDropped) {
    auto bytes = datagram(0, kOurs, 7, 1000, 0);
    EXPECT_TRUE(handle(bytes, 36, timeval{1000, 0}));
    for (size_t length = 0; length < 36; ++length) {
        EXPECT_FALSE(handle(bytes, length, timeval{1000, 0})) << length;
    }
    auto withOptions = datagram(0, kOurs, 7, 1000, 0, 2);
    EXPECT_FALSE(handle(withOptions, 43, timeval{1000, 0}));
    EXPECT_TRUE(handle(withOptions, 44, timeval{1000, 0}));
}

// An ICMPv6 socket delivers the message alone, raw or not; its echo reply is type 129.
TEST(HandleDatagramTest, Icmp6MessagesAreReadAsIcmpMessagesAreWithTheirOwnReplyType) {
    const in6_addr sender = IN6ADDR_LOOPBACK_INIT;
    struct Row {
        const char* what;
        uint8_t type;
        uint16_t identifier;
        size_t length;
        bool reported;
        uint16_t reqID;
    } rows[] = {
        {"ours", 129, kOurs, 64, true, 7},
        {"ours, just the send time", 129, kOurs, 16, true, 7},
        {"ours, too short for the send time", 129, kOurs, 15, false, 0},
        {"another identifier", 129, kOurs + 1, 8, true, 0},
        {"too short for the header", 129, kOurs + 1, 7, false, 0},
        {"an IPv4 echo reply's type", 0, kOurs, 64, false, 0},
        {"echo request", 128, kOurs, 64, false, 0},
        {"packet too big", 2, kOurs, 64, false, 0},
    };
    for (const Row& row : rows) {
        auto bytes = datagram(row.type, row.identifier, 7, 1000, 250000);
        // The ICMPv6 message alone, exactly `length` bytes of it.
        std::vector<uint8_t> message(bytes.begin() + 20, bytes.begin() + 20 + row.length);
        auto reply = orvela::icmp::handleIcmp6Message(message.data(), message.size(), sender, kOurs,
                                                      timeval{1001, 750000});
        ASSERT_EQ(reply.has_value(), row.reported) << row.what;
        if (!reply) continue;
        EXPECT_EQ(reply->family, AF_INET6) << row.what;
        EXPECT_EQ(std::memcmp(&reply->address6, &sender, sizeof sender), 0) << row.what;
        EXPECT_EQ(reply->type, 129) << row.what;
        EXPECT_EQ(reply->reqID, row.reqID) << row.what;
        EXPECT_EQ(reply->roundtripMicros, row.reqID != 0 ? 1500000 : 0) << row.what;
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
