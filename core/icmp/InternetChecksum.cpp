#include "core/icmp/InternetChecksum.h"

#include <cstdint>

#include "core/icmp/IcmpLayout.h"

extern "C" {

unsigned short checksum(unsigned short* addr, int len) {
    return in_cksum(addr, len);
}

unsigned short in_cksum(const unsigned short* ptr, int nbytes) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(ptr);
    uint32_t sum = 0;
    for (; nbytes > 1; nbytes -= 2, bytes += 2) sum += orvela::icmp::read16(bytes);
    if (nbytes == 1) sum += static_cast<uint32_t>(bytes[0]) << 8;
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<unsigned short>(~sum);
}

}  // extern "C"
