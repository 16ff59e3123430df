#include "core/icmp/QueuedError.h"

#include <linux/errqueue.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cstring>

#include "core/icmp/TimedReceive.h"

namespace orvela::icmp {
namespace {

// Room for the error with its offender's address and for a time stamp in either format, twice.
union ControlBuffer {
    cmsghdr align;
    unsigned char bytes[CMSG_SPACE(sizeof(sock_extended_err) + sizeof(sockaddr_in6)) +
                        2 * CMSG_SPACE(sizeof(timespec)) + 2 * CMSG_SPACE(sizeof(timeval))];
};

// How one family's errors are described: the control message, the origin of an ICMP error and
// the offender's address.
struct ErrorFormat {
    int level;
    int type;
    uint8_t icmpOrigin;
    sa_family_t family;
    size_t addressLength;
};
constexpr ErrorFormat kIpv4Errors{SOL_IP, IP_RECVERR, SO_EE_ORIGIN_ICMP, AF_INET,
                                  sizeof(sockaddr_in)};
constexpr ErrorFormat kIpv6Errors{SOL_IPV6, IPV6_RECVERR, SO_EE_ORIGIN_ICMP6, AF_INET6,
                                  sizeof(sockaddr_in6)};

// The error of one control message, with the address that follows it. The data need not be
// aligned for the structures: it is copied out.
bool errorOf(const cmsghdr& message, QueuedError* error) {
    const auto describes = [&message](const ErrorFormat& f) {
        return message.cmsg_level == f.level && message.cmsg_type == f.type;
    };
    const ErrorFormat* format = describes(kIpv4Errors)   ? &kIpv4Errors
                                : describes(kIpv6Errors) ? &kIpv6Errors
                                                         : nullptr;
    if (format == nullptr) return false;
    if (message.cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) return false;
    sock_extended_err extended;
    std::memcpy(&extended, CMSG_DATA(&message), sizeof extended);
    error->fromIcmp = extended.ee_origin == format->icmpOrigin;
    error->type = extended.ee_type;
    error->code = extended.ee_code;
    error->offender = SocketAddress{};
    if (message.cmsg_len >= CMSG_LEN(sizeof extended + format->addressLength)) {
        SocketAddress offender{};
        std::memcpy(&offender, CMSG_DATA(&message) + sizeof extended, format->addressLength);
        if (offender.any.sa_family == format->family) error->offender = offender;
    }
    return true;
}

}  // namespace

bool requestQueuedErrors(int fd, sa_family_t family) {
    const ErrorFormat& format = family == AF_INET6 ? kIpv6Errors : kIpv4Errors;
    const int on = 1;
    return ::setsockopt(fd, format.level, format.type, &on, sizeof on) == 0;
}

void takePendingError(int fd) {
    int err = 0;
    socklen_t length = sizeof err;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length);
}

ssize_t receiveQueuedError(int fd, void* buffer, size_t length, QueuedError* error) {
    iovec data{buffer, length};
    ControlBuffer control;
    msghdr message{};
    SocketAddress quotedTo{};
    message.msg_name = &quotedTo;
    message.msg_namelen = sizeof quotedTo;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control.bytes;
    message.msg_controllen = sizeof control.bytes;
    QueuedError found;
    const ssize_t got =
        receiveMessageTimed(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT, &found.received);
    if (got < 0) return got;

    found.quotedTo = quotedTo;
    bool described = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        described = errorOf(*c, &found) || described;
    }
    // An entry without its description (cut off control data) is nobody's answer.
    if (!described) found.fromIcmp = false;
    *error = found;
    return got;
}

}  // namespace orvela::icmp
