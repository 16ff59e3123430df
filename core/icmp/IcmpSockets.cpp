#include "core/icmp/IcmpSockets.h"

// The socket filter is only in the kernel's header, which clashes with <netinet/ip_icmp.h>:
// nothing else of icmpprobe is included here.
#include <linux/icmp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>

#include "binding/ScopedFd.h"
#include "core/icmp/QueuedError.h"
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

int openEchoDatagramSocket(uint16_t* identifier) {
    ScopedFd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!sock) return -1;
    // Port 0: the kernel picks a free identifier.
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    sockaddr_in bound{};
    socklen_t boundLength = sizeof bound;
    if (::bind(sock.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0 ||
        ::getsockname(sock.get(), reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) {
        return -1;
    }
    *identifier = ntohs(bound.sin_port);
    requestReceiveTimes(sock.get());
    return sock.release();
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
    ScopedFd sock(::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMPV6));
    if (!sock) return -1;
    // Port 0: the kernel picks a free identifier.
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_addr = in6addr_any;
    sockaddr_in6 bound{};
    socklen_t boundLength = sizeof bound;
    if (::bind(sock.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0 ||
        ::getsockname(sock.get(), reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) {
        return -1;
    }
    *identifier = ntohs(bound.sin6_port);
    requestReceiveTimes(sock.get());
    return sock.release();
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

}  // namespace orvela::icmp
