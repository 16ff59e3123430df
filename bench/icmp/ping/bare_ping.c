/* The anchor for the ping benchmark: a bare loop on one raw ICMP socket that keeps a window of
 * 64-byte echo requests in flight to 127.0.0.1 and sends the next one as each reply comes in,
 * with the same sendto/recvfrom the library does, on one thread, blocking in recvfrom.
 * Usage: bare_ping [count] [window] [filter]. Prints: sent received seconds cpu-seconds. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "../common/echo_request.h"

static double clockSeconds(clockid_t clock) {
    struct timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    long count = argc > 1 ? atol(argv[1]) : 200000;
    long window = argc > 2 ? atol(argv[2]) : 32;
    int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0) {
        perror("socket");
        return 1;
    }
    if (argc > 3 && strcmp(argv[3], "filter") == 0) {
        /* Let only echo replies through, as iputils ping does. */
        uint32_t notEchoReply = ~(1u << 0);
        setsockopt(fd, SOL_RAW, 1 /* ICMP_FILTER */, &notEchoReply, sizeof notEchoReply);
    }
    uint16_t id = (uint16_t)(getpid() & 0xFFFF);
    uint8_t req[ECHO_REQUEST_BYTES];
    struct sockaddr_in to = {.sin_family = AF_INET};
    to.sin_addr.s_addr = htonl(0x7F000001);
    struct timeval patience = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    uint8_t buf[4096];
    long sent = 0, received = 0;

    double start = clockSeconds(CLOCK_MONOTONIC);
    double cpuStart = clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
    for (;;) {
        while (sent < count && sent - received < window) {
            uint16_t seq = (uint16_t)(sent % 65535 + 1);
            echo_request(req, id, seq);
            if (sendto(fd, req, 64, 0, (struct sockaddr*)&to, sizeof to) != 64) {
                perror("sendto");
                return 1;
            }
            ++sent;
        }
        if (received == count) break;
        struct sockaddr_in from;
        socklen_t fromLen = sizeof from;
        ssize_t n = recvfrom(fd, buf, sizeof buf, 0, (struct sockaddr*)&from, &fromLen);
        if (n < 0) break; /* a second without a datagram: the rest is lost */
        if (n < 28) continue;
        size_t ihl = (size_t)(buf[0] & 0x0F) * 4;
        if (ihl < 20 || (size_t)n < ihl + 16) continue;
        const uint8_t* icmp = buf + ihl;
        if (icmp[0] != 0 || (uint16_t)(icmp[4] << 8 | icmp[5]) != id) continue;
        struct timeval tv;
        gettimeofday(&tv, NULL);
        ++received;
    }
    double seconds = clockSeconds(CLOCK_MONOTONIC) - start;
    double cpuSeconds = clockSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
    printf("%ld %ld %.6f %.6f\n", sent, received, seconds, cpuSeconds);
    close(fd);
    return 0;
}
