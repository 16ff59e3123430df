#pragma once

// Where the fields of IPv4, IPv6, ICMP (ICMPv6 alike) and UDP headers lie, and how they are read
// and written: every multi-byte field goes on the wire most significant byte first, whatever the
// host's order.

#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <sys/time.h>

#include <cstdint>
#include <cstring>

namespace orvela::icmp {

// IPv4 header
constexpr int kIpMinHeaderLength = 20;
constexpr uint8_t kIpVersion4NoOptions = 0x45;  // version 4, five 32-bit words
constexpr int kIpTypeOfServiceAt = 1;
constexpr int kIpTotalLengthAt = 2;
constexpr int kIpIdentificationAt = 4;
constexpr int kIpFragmentAt = 6;
constexpr int kIpTimeToLiveAt = 8;
constexpr int kIpProtocolAt = 9;
constexpr int kIpChecksumAt = 10;
constexpr int kIpDestinationAt = 16;

// IPv6 header, as an ICMPv6 error quotes it (a raw ICMPv6 socket receives no header of its own)
constexpr int kIp6HeaderLength = 40;
constexpr int kIp6NextHeaderAt = 6;
constexpr int kIp6DestinationAt = 24;

// ICMP header; an error message quotes the offending datagram's IPv4 header right after it.
constexpr int kIcmpHeaderLength = 8;
constexpr int kIcmpTypeAt = 0;
constexpr int kIcmpCodeAt = 1;
constexpr int kIcmpChecksumAt = 2;
constexpr int kIcmpIdentifierAt = 4;
constexpr int kIcmpSequenceAt = 6;

// UDP header; an ICMP error quotes at least its two ports.
constexpr int kUdpHeaderLength = 8;
constexpr int kUdpSourcePortAt = 0;
constexpr int kUdpDestinationPortAt = 2;
constexpr int kUdpLengthAt = 4;
constexpr int kUdpChecksumAt = 6;
constexpr int kUdpPortsLength = 4;

// The header length an IPv4 header at `header` declares, or 0 when none of it is there.
template <typename Length>
Length ipHeaderLength(const uint8_t* header, Length available) {
    return header != nullptr && available > 0 ? static_cast<Length>((header[0] & 0x0F) * 4) : 0;
}

inline uint16_t read16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] << 8 | at[1]);
}

inline void write16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

// The send time an echo request of this library carries in its data: seconds, then
// microseconds, 32 bits each in the host's order (the reply brings them back to this host).
constexpr int kSendTimeLength = 8;

// Writes the time of day, read now, at `at`; returns it.
inline timeval writeSendTime(uint8_t* at) {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    const int32_t seconds = static_cast<int32_t>(now.tv_sec);
    const int32_t micros = static_cast<int32_t>(now.tv_usec);
    std::memcpy(at, &seconds, 4);
    std::memcpy(at + 4, &micros, 4);
    return now;
}

inline timeval readSendTime(const uint8_t* at) {
    int32_t seconds;
    int32_t micros;
    std::memcpy(&seconds, at, 4);
    std::memcpy(&micros, at + 4, 4);
    timeval sent{};
    sent.tv_sec = seconds;
    sent.tv_usec = micros;
    return sent;
}

}  // namespace orvela::icmp
