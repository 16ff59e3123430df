/* The bare anchor of the sweep benchmark: one raw ICMP socket with the ping service's receive
 * buffer, a 64-byte echo request to each of `count` consecutive addresses from `first`, back to
 * back on one thread, reading whatever replies are waiting between two sends, then the rest.
 * Usage: sweep_bare FIRST-DOTTED COUNT. Prints: sent received seconds. */
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
static uint32_t first;
static long count, received;
static unsigned char* seen;
static double lastReply;

/* Reads every datagram waiting; returns how many it read. */
static int drain(int fd) {
    uint8_t buf[4096];
    int n = 0;
    for (;;) {
        struct sockaddr_in from;
        socklen_t fromLen = sizeof from;
        ssize_t got = recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT, (struct sockaddr*)&from, &fromLen);
        if (got < 0) return n;
        ++n;
        size_t ihl = (size_t)(buf[0] & 0x0F) * 4;
        if (got < 28 || (size_t)got < ihl + 8) continue;
        const uint8_t* icmp = buf + ihl;
        if (icmp[0] != 0 || (uint16_t)(icmp[4] << 8 | icmp[5]) != id) continue;
        long k = (long)(uint16_t)(icmp[6] << 8 | icmp[7]) - 1;
        if (k < 0 || k >= count || ntohl(from.sin_addr.s_addr) != first + (uint32_t)k || seen[k]) continue;
        seen[k] = 1;
        ++received;
        lastReply = now();
    }
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    struct in_addr a;
    inet_pton(AF_INET, argv[1], &a);
    first = ntohl(a.s_addr);
    count = atol(argv[2]);
    seen = calloc((size_t)count, 1);
    int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
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
    long sent = 0;

    double start = now();
    for (long k = 0; k < count; ++k) {
        uint16_t seq = (uint16_t)(k + 1);
        echo_request(req, id, seq);
        to.sin_addr.s_addr = htonl(first + (uint32_t)k);
        if (sendto(fd, req, 64, 0, (struct sockaddr*)&to, sizeof to) == 64) ++sent;
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
