/* The bare anchor of the latency probe: the same echo probe (a 64-byte IPv4 datagram, time to
 * live 64, the send time in its data, bench/icmp/common/echo_request.h) on one raw ICMP socket,
 * waiting for its reply with poll and recvmsg; the round trip runs from just before the send to
 * the kernel's receive time of the reply, as the library times it. One untimed probe first, then COUNT.
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

#include "../common/bare_wait.h"
#include "../common/echo_request.h"

enum { IP_HEADER = 20, PROBE_BYTES = 64, ICMP_BYTES = PROBE_BYTES - IP_HEADER };

/* The round trip of one probe in seconds, or -1 when no reply came within two seconds. */
static double probe(int fd, const struct sockaddr_in* to, uint16_t id, uint16_t seq) {
    uint8_t req[ICMP_BYTES];
    echo_request_of(req, ICMP_BYTES, id, seq);

    double start = bare_now();
    if (sendto(fd, req, sizeof req, 0, (const struct sockaddr*)to, sizeof *to) != ICMP_BYTES)
        return -1;
    double deadline = start + 2;
    uint8_t buf[4096];
    for (;;) {
        struct sockaddr_in from;
        double end;
        long n = bare_receive(fd, buf, sizeof buf, deadline, &from, &end);
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
    bare_stamp_receptions(fd);
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
    printf("%d %.4f\n", answered, bare_median(rtts, answered));
    return 0;
}
