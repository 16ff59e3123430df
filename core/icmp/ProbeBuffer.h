#pragma once

// The datagram buffers of the route trace and the latency probe.

#include <cstdint>
#include <memory>
#include <new>

namespace orvela::icmp {

constexpr int kMinPacket = 64;
constexpr int kMaxPacket = 1024;

// The length a Java caller asked for with a long: its low 32 bits, as the int Java sees them.
inline int requestedLength(int64_t packetSize) {
    return static_cast<int>(static_cast<uint32_t>(packetSize));
}

// The datagram length used for a requested one.
inline int limitLength(int requested) {
    if (requested > kMaxPacket) return kMaxPacket;
    if (requested < kMinPacket) return kMinPacket;
    return requested;
}

using Buffer = std::unique_ptr<unsigned char[]>;

// Zero-filled, or null when the allocation failed.
inline Buffer allocateBuffer(int size) {
    return Buffer(new (std::nothrow) unsigned char[size]());
}

}  // namespace orvela::icmp
