/* The bare anchor of the latency probe: the same echo probe (a 64-byte IPv4 datagram, time to
 * live 64, the send time in its data, bench/icmp/common/echo_request.h) on one raw ICMP socket,
 * waiting for its reply with poll and recvfrom; the round trip is timed in the program, from just
 * before the send to just after the reply is read. One untimed probe first, then COUNT.
 * Usage: bare_latency DEST-DOTTED COUNT. Prints: answered median-ms. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "../common/echo_request.h"

enum { IP_HEADER = 20, PROBE_BYTES = 64, ICMP_BYTES = PROBE_BYTES - IP_HEADER };

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static int byValue(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

/* The round trip of one probe in seconds, or -1 when no reply came within two seconds. */
static double probe(int fd, const struct sockaddr_in* to, uint16_t id, uint16_t seq) {
    uint8_t req[ICMP_BYTES];
    echo_request_of(req, ICMP_BYTES, id, seq);

    double start = now();
    if (sendto(fd, req, sizeof req, 0, (const struct sockaddr*)to, sizeof *to) != ICMP_BYTES)
        return -1;
    double deadline = start + 2;
    uint8_t buf[4096];
    for (;;) {
        int left = (int)((deadline - now()) * 1000);
        if (left <= 0) return -1;
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) return -1;
        struct sockaddr_in from;
        socklen_t fromLen = sizeof from;
        ssize_t n = recvfrom(fd, buf, sizeof buf, 0, (struct sockaddr*)&from, &fromLen);
        double end = now();
        if (n < 0) return -1;
        size_t ihl = (size_t)(buf[0] & 0x0F) * 4;
        if (ihl < IP_HEADER || (size_t)n < ihl + 8) continue;
        const uint8_t* icmp = buf + ihl;
        if (icmp[0] == 0 && (uint16_t)(icmp[4] << 8 | icmp[5]) == id &&
            (uint16_t)(icmp[6] << 8 | icmp[7]) == seq &&
            from.sin_addr.s_addr == to->sin_addr.s_addr)
            return end - start;
    }
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    struct sockaddr_in to = {.sin_family = AF_INET};
    if (inet_pton(AF_INET, argv[1], &to.sin_addr) != 1) return 2;
    int count = atoi(argv[2]);
    if (count < 1) return 2;
    int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        perror("socket");
        return 1;
    }
    int ttl = 64;
    setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    uint16_t id = (uint16_t)(getpid() & 0xFFFF);
    double* rtts = malloc(sizeof(double) * (size_t)count);
    int answered = 0;
    probe(fd, &to, id, 0);
    for (int k = 1; k <= count; ++k) {
        double rtt = probe(fd, &to, id, (uint16_t)k);
        if (rtt >= 0) rtts[answered++] = rtt * 1000;
    }
    close(fd);
    if (answered == 0) {
        printf("0 nan\n");
        return 1;
    }
    qsort(rtts, (size_t)answered, sizeof *rtts, byValue);
    double median =
        answered % 2 ? rtts[answered / 2] : (rtts[answered / 2 - 1] + rtts[answered / 2]) / 2;
    printf("%d %.4f\n", answered, median);
    return 0;
}
