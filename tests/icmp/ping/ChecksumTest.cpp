#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/icmp/InternetChecksum.h"

namespace {

// The sum of both entry points, which must agree: the trace's in_cksum takes read-only bytes.
unsigned short checksumOf(std::vector<uint8_t> bytes) {
    const int length = static_cast<int>(bytes.size());
    const unsigned short sum = checksum(reinterpret_cast<unsigned short*>(bytes.data()), length);
    EXPECT_EQ(in_cksum(reinterpret_cast<const unsigned short*>(bytes.data()), length), sum);
    return sum;
}

TEST(ChecksumTest, SumsBigEndianWordsAndComplements) {
    // The worked example of RFC 1071: words 0001 f203 f4f5 f6f7 sum to 2ddf0, folded ddf2.
    EXPECT_EQ(checksumOf({0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}), 0x220d);
    EXPECT_EQ(checksumOf({0x00, 0x00, 0x00, 0x00}), 0xffff);
    EXPECT_EQ(checksumOf({}), 0xffff);
}

TEST(ChecksumTest, AnOddLastByteIsTheHighOrderByteOfAWord) {
    EXPECT_EQ(checksumOf({0x12}), static_cast<unsigned short>(~0x1200));
    EXPECT_EQ(checksumOf({0x01, 0x02, 0x03}), static_cast<unsigned short>(~(0x0102 + 0x0300)));
}

TEST(ChecksumTest, CarriesFoldBackIntoTheSum) {
    // 0xffff * 4096 words: the carries need both folds; the one's complement sum is 0xffff.
    EXPECT_EQ(checksumOf(std::vector<uint8_t>(8192, 0xff)), 0x0000);
    // 0x8000 + 0x8000 carries one bit that comes back in as 1.
    EXPECT_EQ(checksumOf({0x80, 0x00, 0x80, 0x00}), static_cast<unsigned short>(~0x0001));
}

TEST(ChecksumTest, AMessageWithItsChecksumInPlaceSumsToZero) {
    std::vector<uint8_t> message(64);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i * 37 + 11);
    message[2] = message[3] = 0;
    unsigned short sum = checksumOf(message);
    message[2] = static_cast<uint8_t>(sum >> 8);
    message[3] = static_cast<uint8_t>(sum);
    EXPECT_EQ(checksumOf(message), 0);
}

}  // namespace
