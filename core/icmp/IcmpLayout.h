#pragma once

// Where the fields of IPv4, ICMP and UDP headers lie, and how they are read and written: every
// multi-byte field goes on the wire most significant byte first, whatever the host's order.

#include <netinet/in.h>
#include <netinet/ip_icmp.h>

#include <cstddef>
#include <cstdint>

namespace orvela::icmp {

// IPv4 header
constexpr size_t kIpMinHeaderLength = 20;
constexpr uint8_t kIpVersion4NoOptions = 0x45;  // version 4, five 32-bit words
constexpr size_t kIpTypeOfServiceAt = 1;
constexpr size_t kIpTotalLengthAt = 2;
constexpr size_t kIpIdentificationAt = 4;
constexpr size_t kIpFragmentAt = 6;
constexpr size_t kIpTimeToLiveAt = 8;
constexpr size_t kIpProtocolAt = 9;
constexpr size_t kIpChecksumAt = 10;
constexpr size_t kIpDestinationAt = 16;

// ICMP header; an error message quotes the offending datagram's IPv4 header right after it.
constexpr size_t kIcmpHeaderLength = 8;
constexpr size_t kIcmpTypeAt = 0;
constexpr size_t kIcmpCodeAt = 1;
constexpr size_t kIcmpChecksumAt = 2;
constexpr size_t kIcmpIdentifierAt = 4;
constexpr size_t kIcmpSequenceAt = 6;

// UDP header; an ICMP error quotes at least its two ports.
constexpr size_t kUdpHeaderLength = 8;
constexpr size_t kUdpSourcePortAt = 0;
constexpr size_t kUdpDestinationPortAt = 2;
constexpr size_t kUdpLengthAt = 4;
constexpr size_t kUdpChecksumAt = 6;
constexpr size_t kUdpPortsLength = 4;

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

}  // namespace orvela::icmp
