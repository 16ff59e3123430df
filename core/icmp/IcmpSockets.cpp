#include "core/icmp/IcmpSockets.h"

// The socket filter is only in the kernel's header, which clashes with <netinet/ip_icmp.h>:
// nothing else of icmpprobe is included here.
#include <linux/icmp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "binding/ScopedFd.h"
#include "core/icmp/QueuedError.h"
#include "core/icmp/SocketAddress.h"
#include "core/icmp/TimedReceive.h"

namespace orvela::icmp {

RawSendSocket openRawSendSocket(int sendBufferBytes) {
    RawSendSocket result;
    ScopedFd sock(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW));
    if (!sock) {
        result.err = errno;
        result.failedStep = SendSocketStep::Socket;
        return result;
    }
    if (::setsockopt(sock.get(), SOL_SOCKET, SO_SNDBUF, &sendBufferBytes, sizeof sendBufferBytes) <
        0) {
        result.err = errno;
        result.failedStep = SendSocketStep::SendBuffer;
        return result;
    }
    const int on = 1;
    if (::setsockopt(sock.get(), IPPROTO_IP, IP_HDRINCL, &on, sizeof on) < 0) {
        result.err = errno;
        result.failedStep = SendSocketStep::HeaderIncluded;
        return result;
    }
    result.fd = sock.release();
    return result;
}

int openRawReceiveSocket(int protocol, const FilterProgram& filter) {
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, protocol);
    if (fd < 0) return -1;
    requestReceiveTimes(fd);
    // Before anything is sent: what the socket queued until then is thrown away with it.
    attachFilter(fd, filter);
    return fd;
}

bool refusedForPrivilege(int err) {
    return err == EPERM || err == EACCES;
}

namespace {
// The ICMP (ICMPv6) echo socket of the datagram kind, bound to port 0: the kernel picks a free
// identifier.
int openEchoDatagramSocketOf(sa_family_t family, uint16_t* identifier) {
    const int protocol = family == AF_INET6 ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP};
    ScopedFd sock(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, protocol));
    if (!sock) return -1;
    SocketAddress any{};
    any.any.sa_family = family;  // the wildcard address is all zeros in either family
    SocketAddress bound{};
    socklen_t boundLength = sizeof bound;
    if (::bind(sock.get(), &any.any, addressLength(any)) != 0 ||
        ::getsockname(sock.get(), &bound.any, &boundLength) != 0) {
        return -1;
    }
    *identifier = ntohs(family == AF_INET6 ? bound.v6.sin6_port : bound.v4.sin_port);
    requestReceiveTimes(sock.get());
    return sock.release();
}
}  // namespace

int openEchoDatagramSocket(uint16_t* identifier) {
    return openEchoDatagramSocketOf(AF_INET, identifier);
}

int openRawIcmp6Socket(const icmp6_filter& types, const FilterProgram* filter) {
    ScopedFd sock(::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6));
    if (!sock) return -1;
    if (::setsockopt(sock.get(), IPPROTO_ICMPV6, ICMP6_FILTER, &types, sizeof types) != 0) {
        return -1;
    }
    requestReceiveTimes(sock.get());
    // Without a program attached, what came in before the type filter took hold goes here.
    if (filter == nullptr || !attachFilter(sock.get(), *filter)) dropQueued(sock.get());
    return sock.release();
}

int openEchoDatagramSocket6(uint16_t* identifier) {
    return openEchoDatagramSocketOf(AF_INET6, identifier);
}

namespace {
int openUdpProbeSocketOf(sa_family_t family);
}

int openUdpProbeSocket() {
    return openUdpProbeSocketOf(AF_INET);
}

namespace {
int lookUpIcmpProtocol() {
    protoent entry{};
    protoent* found = nullptr;
    char scratch[1024];
    if (::getprotobyname_r("icmp", &entry, scratch, sizeof scratch, &found) != 0 ||
        found == nullptr) {
        return -1;
    }
    return found->p_proto;
}
}  // namespace

int icmpProtocol() {
    // The entry is read once: reading the protocols file cost each probe five system calls.
    // A failed look-up is not kept, so an entry added later is found.
    static std::atomic<int> known{-1};
    int protocol = known.load(std::memory_order_relaxed);
    if (protocol >= 0) return protocol;
    protocol = lookUpIcmpProtocol();
    if (protocol >= 0) known.store(protocol, std::memory_order_relaxed);
    return protocol;
}

bool acceptOnlyEchoReplies(int fd) {
    icmp_filter onlyEchoReplies{~(1u << ICMP_ECHOREPLY)};
    return ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &onlyEchoReplies, sizeof onlyEchoReplies) == 0;
}

int openUdpProbeSocket6() {
    return openUdpProbeSocketOf(AF_INET6);
}

namespace {
int openUdpProbeSocketOf(sa_family_t family) {
    ScopedFd sock(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    if (!sock) return -1;
    if (!requestQueuedErrors(sock.get(), family)) return -1;
    requestReceiveTimes(sock.get());
    return sock.release();
}
}  // namespace

bool setTimeToLive(int fd, sa_family_t family, int ttl) {
    const int value = std::max(ttl & 0xFF, 1);
    if (family == AF_INET6) {
        return ::setsockopt(fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &value, sizeof value) == 0;
    }
    return ::setsockopt(fd, IPPROTO_IP, IP_TTL, &value, sizeof value) == 0;
}

}  // namespace orvela::icmp
