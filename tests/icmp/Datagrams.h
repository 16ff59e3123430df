#pragma once

// Builders for the datagrams a probe's socket receives, field by field in network byte order,
// so that the tests hold on every host.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvela::test {

using Bytes = std::vector<unsigned char>;

inline void put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<unsigned char>(v >> 8);
    b[at + 1] = static_cast<unsigned char>(v);
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An IPv4 header of `words` 32-bit words (options: no-operation bytes).
inline Bytes ip(int protocol, uint32_t source, uint32_t destination, int words = 5) {
    Bytes h(static_cast<size_t>(words) * 4, 1);
    h[0] = static_cast<unsigned char>(0x40 | words);
    for (size_t i = 1; i < 20; ++i) h[i] = 0;
    h[8] = 64;
    h[9] = static_cast<unsigned char>(protocol);
    for (int i = 0; i < 4; ++i) {
        h[12 + i] = static_cast<unsigned char>(source >> (24 - 8 * i));
        h[16 + i] = static_cast<unsigned char>(destination >> (24 - 8 * i));
    }
    return h;
}

// An ICMP header: type and code, then the identifier and the sequence number (or whatever the
// type keeps there).
inline Bytes icmp(int type, int code, uint16_t id, uint16_t seq) {
    Bytes h(8, 0);
    h[0] = static_cast<unsigned char>(type);
    h[1] = static_cast<unsigned char>(code);
    put16(h, 4, id);
    put16(h, 6, seq);
    return h;
}

inline Bytes udp(uint16_t source, uint16_t destination) {
    Bytes h(8, 0);
    put16(h, 0, source);
    put16(h, 2, destination);
    return h;
}

}  // namespace orvela::test
