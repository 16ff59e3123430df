#include "core/icmp/TimedReceive.h"

#include <sys/uio.h>

#include <cstring>
#include <ctime>

namespace orvela::icmp {
namespace {

constexpr long kMicrosPerSecond = 1000000;
constexpr long kNanosPerSecond = 1000000000;
constexpr time_t kDaySeconds = 86400;

// Room for either stamp, twice over: where the C library converts the kernel's older stamp
// format for a 64-bit time_t on a 32-bit machine, it adds its copy beside the original.
union ControlBuffer {
    cmsghdr align;
    unsigned char bytes[2 * CMSG_SPACE(sizeof(timespec)) + 2 * CMSG_SPACE(sizeof(timeval))];
};

// The stamp one control message carries. Its data need not be aligned for the structure: it
// is copied out. A length other than the structure's is a format this build doesn't read.
bool stampOf(const cmsghdr& message, timeval* stamp) {
    if (message.cmsg_level != SOL_SOCKET) return false;
    if (message.cmsg_type == SCM_TIMESTAMPNS && message.cmsg_len == CMSG_LEN(sizeof(timespec))) {
        timespec precise;
        std::memcpy(&precise, CMSG_DATA(&message), sizeof precise);
        if (precise.tv_nsec < 0 || precise.tv_nsec >= kNanosPerSecond) return false;
        stamp->tv_sec = precise.tv_sec;
        stamp->tv_usec = static_cast<suseconds_t>(precise.tv_nsec / 1000);
        return true;
    }
    if (message.cmsg_type == SCM_TIMESTAMP && message.cmsg_len == CMSG_LEN(sizeof(timeval))) {
        std::memcpy(stamp, CMSG_DATA(&message), sizeof *stamp);
        return stamp->tv_usec >= 0 && stamp->tv_usec < kMicrosPerSecond;
    }
    return false;
}

bool plausible(const timeval& stamp, const timeval& now) {
    if (timercmp(&stamp, &now, >)) return false;
    return stamp.tv_sec > now.tv_sec - kDaySeconds;
}

// The kernel stamps datagrams only while some socket of the system asks for stamps, and it
// switches that on and off a moment after the first such socket opens or the last closes, each
// time by patching code on every processor. A probe's own socket would flip it twice per probe,
// and its first datagrams could arrive before the stamps were on (they are then stamped when
// read). One socket that asks for stamps and stays open for the life of the process keeps them
// on from the first request on.
void keepStampingOn() {
    static const int keeper = [] {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        return fd;
    }();
    static_cast<void>(keeper);
}

// Either overload: `from` (may be null) has room for `fromLength` bytes.
ssize_t receiveTimedFrom(int fd, void* buffer, size_t length, int flags, void* from,
                         socklen_t fromLength, timeval* received) {
    iovec data{buffer, length};
    ControlBuffer control;
    msghdr message{};
    message.msg_name = from;
    message.msg_namelen = from != nullptr ? fromLength : 0;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control.bytes;
    message.msg_controllen = sizeof control.bytes;
    return receiveMessageTimed(fd, &message, flags, received);
}

}  // namespace

bool requestReceiveTimes(int fd) {
    keepStampingOn();
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0) return true;
    return ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on) == 0;
}

ssize_t receiveTimed(int fd, void* buffer, size_t length, int flags, sockaddr_in* from,
                     timeval* received) {
    return receiveTimedFrom(fd, buffer, length, flags, from, sizeof *from, received);
}

ssize_t receiveTimed(int fd, void* buffer, size_t length, int flags, sockaddr_in6* from,
                     timeval* received) {
    return receiveTimedFrom(fd, buffer, length, flags, from, sizeof *from, received);
}

ssize_t receiveMessageTimed(int fd, msghdr* message, int flags, timeval* received) {
    const ssize_t got = ::recvmsg(fd, message, flags);
    if (got < 0 || received == nullptr) return got;
    timeval now{};
    ::gettimeofday(&now, nullptr);
    if (!receiveTimeOf(*message, now, received)) *received = now;
    return got;
}

bool receiveTimeOf(const msghdr& message, const timeval& now, timeval* received) {
    msghdr& walked = const_cast<msghdr&>(message);  // CMSG_NXTHDR only reads it
    for (cmsghdr* control = CMSG_FIRSTHDR(&walked); control != nullptr;
         control = CMSG_NXTHDR(&walked, control)) {
        timeval stamp{};
        if (stampOf(*control, &stamp) && plausible(stamp, now)) {
            *received = stamp;
            return true;
        }
    }
    return false;
}

}  // namespace orvela::icmp
