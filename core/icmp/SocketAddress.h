#pragma once

// A socket address of either IP family, as the probes' sockets send to and receive from.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace orvela::icmp {

// The largest member first, so that `SocketAddress a{}` zeroes all of it.
union SocketAddress {
    sockaddr_in6 v6;
    sockaddr_in v4;
    sockaddr any;
};

// True when both name the same host of the same family; ports aside.
inline bool sameHost(const SocketAddress& a, const SocketAddress& b) {
    if (a.any.sa_family != b.any.sa_family) return false;
    if (a.any.sa_family == AF_INET6) {
        return std::memcmp(&a.v6.sin6_addr, &b.v6.sin6_addr, sizeof a.v6.sin6_addr) == 0;
    }
    return a.any.sa_family == AF_INET && a.v4.sin_addr.s_addr == b.v4.sin_addr.s_addr;
}

// The length of the address its family gives it.
inline socklen_t addressLength(const SocketAddress& a) {
    return a.any.sa_family == AF_INET6 ? sizeof a.v6 : sizeof a.v4;
}

}  // namespace orvela::icmp
