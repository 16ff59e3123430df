/* The echo request of the bare C anchors (64 bytes unless said otherwise), laid out as the ping
 * service lays out its own: identifier, sequence, and the send time (seconds and microseconds,
 * host order) at bytes 8 to 15, with the checksum over the whole message. */
#ifndef ORVELA_BENCH_ECHO_REQUEST_H
#define ORVELA_BENCH_ECHO_REQUEST_H

#include <stdint.h>
#include <string.h>
#include <sys/time.h>

enum { ECHO_REQUEST_BYTES = 64 };

static inline uint16_t echo_checksum(const uint8_t* p, int len) {
    uint32_t sum = 0;
    for (; len > 1; len -= 2, p += 2) sum += (uint32_t)(p[0] << 8 | p[1]);
    if (len == 1) sum += (uint32_t)p[0] << 8;
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return (uint16_t)~sum;
}

/* Fills req (length bytes, at least 16) for identifier id and sequence seq, stamped now. */
static inline void echo_request_of(uint8_t* req, int length, uint16_t id, uint16_t seq) {
    struct timeval tv;
    gettimeofday(&tv, NULL);
    int32_t sec = (int32_t)tv.tv_sec, usec = (int32_t)tv.tv_usec;
    memset(req, 0, (size_t)length);
    req[0] = 8;
    req[4] = (uint8_t)(id >> 8);
    req[5] = (uint8_t)id;
    req[6] = (uint8_t)(seq >> 8);
    req[7] = (uint8_t)seq;
    memcpy(req + 8, &sec, 4);
    memcpy(req + 12, &usec, 4);
    uint16_t c = echo_checksum(req, length);
    req[2] = (uint8_t)(c >> 8);
    req[3] = (uint8_t)c;
}

/* Fills req (ECHO_REQUEST_BYTES long) for identifier id and sequence seq, stamped now. */
static inline void echo_request(uint8_t* req, uint16_t id, uint16_t seq) {
    echo_request_of(req, ECHO_REQUEST_BYTES, id, seq);
}

#endif
