/* The bare anchor of the route trace: the same trace the library makes, in a loop. Each trace
 * opens a raw send socket (the IPv4 header written here) and a raw ICMP receive socket, then
 * for time to live 1, 2, ... sends one 64-byte UDP probe (source port the trace's id, destination
 * port 33434 + its number) and waits with poll and recvmsg for the ICMP error that quotes it,
 * until the destination's port unreachable; then closes both. One untimed trace first, then
 * TRACES, each timed in the program from the first socket to the last close.
 * Usage: bare_trace DEST-DOTTED TRACES. Prints: hops median-ms. */
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

#include "../common/bare_wait.h"

enum { IP_HEADER = 20, UDP_HEADER = 8, PROBE_BYTES = 64, FIRST_PORT = 33434, HIGHEST_HOP = 25 };

static void put16(uint8_t* p, unsigned v) {
    p[0] = (uint8_t)(v >> 8);
    p[1] = (uint8_t)v;
}

static unsigned get16(const uint8_t* p) {
    return (unsigned)(p[0] << 8 | p[1]);
}

/* Waits up to two seconds for the error quoting probe `seq`; returns its ICMP type and code as
 * type * 256 + code, or -1. */
static int answer(int fd, uint16_t id, int seq) {
    double deadline = bare_now() + 2;
    uint8_t buf[4096];
    for (;;) {
        struct sockaddr_in from;
        double stamp;
        long n = bare_receive(fd, buf, sizeof buf, deadline, &from, &stamp);
        if (n < 0) return -1;
        size_t ihl = (size_t)(buf[0] & 0x0F) * 4;
        if (ihl < IP_HEADER || (size_t)n < ihl + 8 + IP_HEADER + 4) continue;
        const uint8_t* icmp = buf + ihl;
        if (icmp[0] != 11 && icmp[0] != 3) continue;
        const uint8_t* quoted = icmp + 8;
        size_t qhl = (size_t)(quoted[0] & 0x0F) * 4;
        if (qhl < IP_HEADER || (size_t)n < ihl + 8 + qhl + 4 || quoted[9] != IPPROTO_UDP) continue;
        const uint8_t* udp = quoted + qhl;
        if (get16(udp) == id && get16(udp + 2) == (unsigned)(FIRST_PORT + seq))
            return icmp[0] * 256 + icmp[1];
    }
}

/* One trace; returns its hops, or -1 when a socket could not be opened. */
static int trace(const struct sockaddr_in* to, uint16_t id) {
    int out = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    int in = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    int on = 1;
    if (out < 0 || in < 0 || setsockopt(out, IPPROTO_IP, IP_HDRINCL, &on, sizeof on) != 0) {
        perror("socket");
        return -1;
    }
    uint8_t probe[PROBE_BYTES];
    int hops = 0;
    for (int ttl = 1, seq = 1; ttl <= HIGHEST_HOP; ++ttl, ++seq) {
        memset(probe, 0, sizeof probe);
        probe[0] = 0x45;
        put16(probe + 2, PROBE_BYTES);
        put16(probe + 4, id);
        probe[8] = (uint8_t)ttl;
        probe[9] = IPPROTO_UDP;
        memcpy(probe + 16, &to->sin_addr.s_addr, 4);
        uint8_t* udp = probe + IP_HEADER;
        put16(udp, id);
        put16(udp + 2, (unsigned)(FIRST_PORT + seq));
        put16(udp + 4, PROBE_BYTES - IP_HEADER);
        udp[UDP_HEADER] = (uint8_t)seq;
        udp[UDP_HEADER + 1] = (uint8_t)ttl;
        struct timeval sent;
        gettimeofday(&sent, NULL);
        memcpy(udp + UDP_HEADER + 4, &sent, sizeof sent);
        if (sendto(out, probe, sizeof probe, 0, (const struct sockaddr*)to, sizeof *to) !=
            PROBE_BYTES)
            break;
        int got = answer(in, id, seq);
        ++hops;
        if (got == 3 * 256 + 3) break; /* port unreachable: the destination */
    }
    close(out);
    close(in);
    return hops;
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    struct sockaddr_in to = {.sin_family = AF_INET};
    if (inet_pton(AF_INET, argv[1], &to.sin_addr) != 1) return 2;
    int traces = atoi(argv[2]);
    if (traces < 1) return 2;
    double* times = malloc(sizeof(double) * (size_t)traces);
    uint16_t id = (uint16_t)(getpid() & 0xFFFF);
    int hops = trace(&to, id);
    for (int k = 0; k < traces && hops > 0; ++k) {
        double start = bare_now();
        hops = trace(&to, id);
        times[k] = (bare_now() - start) * 1000;
    }
    if (hops <= 0) return 1;
    printf("%d %.4f\n", hops, bare_median(times, traces));
    return 0;
}
