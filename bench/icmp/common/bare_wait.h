/* What the bare C anchors share: the clock, the median, and one wait for a datagram that
 * returns it with the kernel's receive time (SO_TIMESTAMPNS), as the library reads it. */
#ifndef ORVELA_BENCH_BARE_WAIT_H
#define ORVELA_BENCH_BARE_WAIT_H

#include <netinet/in.h>
#include <poll.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>

/* Wall-clock seconds: the kernel stamps receptions on this clock. */
static inline double bare_now(void) {
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static inline int bare_by_value(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

/* Sorts values[0..count) and returns their median. */
static inline double bare_median(double* values, int count) {
    qsort(values, (size_t)count, sizeof *values, bare_by_value);
    return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

/* Asks fd for the kernel's receive time of each datagram. */
static inline void bare_stamp_receptions(int fd) {
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
}

/* Waits until `deadline` (bare_now seconds) for one datagram; returns its length (-1 when none
 * came or the receive failed), its sender in *from and its receive time in *stamp (the kernel's
 * where it gave one, else the clock just after the read). */
static inline long bare_receive(int fd, uint8_t* buf, size_t size, double deadline,
                                struct sockaddr_in* from, double* stamp) {
    int left = (int)((deadline - bare_now()) * 1000);
    if (left <= 0) return -1;
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) return -1;
    struct iovec iov = {buf, size};
    union {
        struct cmsghdr align;
        char bytes[CMSG_SPACE(sizeof(struct timespec))];
    } control;
    struct msghdr msg = {from, sizeof *from, &iov, 1, control.bytes, sizeof control.bytes, 0};
    long n = (long)recvmsg(fd, &msg, 0);
    *stamp = bare_now();
    for (struct cmsghdr* c = CMSG_FIRSTHDR(&msg); n >= 0 && c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            struct timespec t;
            memcpy(&t, CMSG_DATA(c), sizeof t);
            *stamp = (double)t.tv_sec + (double)t.tv_nsec / 1e9;
        }
    }
    return n;
}

#endif
