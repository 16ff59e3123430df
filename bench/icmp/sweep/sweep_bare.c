/* The bare anchor of the sweep benchmark: one raw ICMP socket with the ping service's receive
 * buffer, a 64-byte echo request to each of `count` consecutive addresses from `first`, back to
 * back on one thread, reading whatever replies are waiting between two sends, then the rest.
 * An IPv6 `first` takes a raw ICMPv6 socket, whose checksums the kernel computes.
 * Usage: sweep_bare FIRST-ADDRESS COUNT. Prints: sent received seconds. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "../common/echo_request.h"

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static uint16_t id;
static int ipv6;
static uint32_t first;
static struct in6_addr first6;
static long count, received;
static unsigned char* seen;
static double lastReply;

/* The IPv6 address first6 + k. */
static struct in6_addr nth6(long k) {
    struct in6_addr a = first6;
    for (int i = 15; i >= 0 && k != 0; --i) {
        long sum = a.s6_addr[i] + k;
        a.s6_addr[i] = (uint8_t)sum;
        k = sum >> 8;
    }
    return a;
}

/* Reads every datagram waiting; returns how many it read. */
static int drain(int fd) {
    uint8_t buf[4096];
    int n = 0;
    for (;;) {
        struct sockaddr_in6 from; /* holds either family */
        socklen_t fromLen = sizeof from;
        ssize_t got =
            recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT, (struct sockaddr*)&from, &fromLen);
        if (got < 0) return n;
        ++n;
        /* A raw IPv4 socket reads the IP header, a raw ICMPv6 socket the message alone. */
        size_t ihl = ipv6 ? 0 : (size_t)(buf[0] & 0x0F) * 4;
        if ((size_t)got < ihl + 8) continue;
        const uint8_t* icmp = buf + ihl;
        if (icmp[0] != (ipv6 ? 129 : 0) || (uint16_t)(icmp[4] << 8 | icmp[5]) != id) continue;
        long k = (long)(uint16_t)(icmp[6] << 8 | icmp[7]) - 1;
        if (k < 0 || k >= count || seen[k]) continue;
        if (ipv6) {
            struct in6_addr expected = nth6(k);
            if (memcmp(&from.sin6_addr, &expected, sizeof expected) != 0) continue;
        } else {
            struct sockaddr_in from4;
            memcpy(&from4, &from, sizeof from4);
            if (ntohl(from4.sin_addr.s_addr) != first + (uint32_t)k) continue;
        }
        seen[k] = 1;
        ++received;
        lastReply = now();
    }
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    struct in_addr a;
    ipv6 = strchr(argv[1], ':') != NULL;
    if (ipv6 ? inet_pton(AF_INET6, argv[1], &first6) != 1 : inet_pton(AF_INET, argv[1], &a) != 1)
        return 2;
    first = ipv6 ? 0 : ntohl(a.s_addr);
    count = atol(argv[2]);
    seen = calloc((size_t)count, 1);
    int fd = ipv6 ? socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6)
                  : socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        perror("socket");
        return 1;
    }
    int bytes = 8 << 20;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    id = (uint16_t)(getpid() & 0xFFFF);
    uint8_t req[ECHO_REQUEST_BYTES];
    struct sockaddr_in to = {.sin_family = AF_INET};
    struct sockaddr_in6 to6 = {.sin6_family = AF_INET6};
    long sent = 0;

    double start = now();
    for (long k = 0; k < count; ++k) {
        uint16_t seq = (uint16_t)(k + 1);
        echo_request(req, id, seq);
        ssize_t out;
        if (ipv6) {
            req[0] = 128; /* echo request; the kernel writes the checksum */
            to6.sin6_addr = nth6(k);
            out = sendto(fd, req, 64, 0, (struct sockaddr*)&to6, sizeof to6);
        } else {
            to.sin_addr.s_addr = htonl(first + (uint32_t)k);
            out = sendto(fd, req, 64, 0, (struct sockaddr*)&to, sizeof to);
        }
        if (out == 64) ++sent;
        drain(fd);
    }
    double sendEnd = now();
    /* The rest, until all are in or a second passes without one. */
    while (received < count) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0) break;
        drain(fd);
    }
    double end = lastReply > sendEnd ? lastReply : sendEnd;
    printf("%ld %ld %.6f\n", sent, received, end - start);
    close(fd);
    return 0;
}
