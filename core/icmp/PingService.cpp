#include "core/icmp/PingService.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "binding/ScopedFd.h"
#include "binding/ScopedLocalRef.h"
#include "binding/SharedSocket.h"
#include "binding/SocketWait.h"
#include "binding/WriteFully.h"
#include "core/icmp/Diagnostics.h"
#include "core/icmp/IcmpLayout.h"
#include "core/icmp/IcmpSockets.h"
#include "core/icmp/InternetChecksum.h"
#include "core/icmp/JavaIpv6Address.h"
#include "core/icmp/ListenerMethod.h"
#include "core/icmp/ProbeFilter.h"
#include "core/icmp/TimedReceive.h"

extern "C" {
ORVELA_EXPORT int packetsize = 64;
ORVELA_EXPORT const char* pingLogFile = "/tmp/pinger.log";
ORVELA_EXPORT int trace = 0;
}

namespace orvela::icmp {
namespace {

constexpr size_t kBufferSize = 4096;
// The request's data: its send time, seconds then microseconds, in the host's byte order.
constexpr size_t kSendTimeAt = kIcmpHeaderLength;

// Sockets that icmp_init opened and that have not been shut down yet.
//
// Shutting a socket down while a receive loop runs on it: icmp_shutdown takes it out of the
// table and closes the SharedSocket, which makes its wake descriptor readable; every loop
// polls that descriptor together with the socket and looks at the mark between datagrams, so
// it leaves at once, waiting or busy. Each loop holds the socket, so its number stays open
// until the last loop leaves: a loop never waits on or reads from a descriptor number that
// another open has taken over, and nothing depends on close() waking a blocked wait. A
// descriptor that is not in the table (never opened here, or already shut down) is neither
// waited on, sent to, nor closed. The table has no limit of its own: the process's descriptor
// limit is the only one.
//
// Guards the table and the request under construction (sendBuf, dstAddress).
std::mutex socketsMutex;

// A socket of the table, and what its loops need to know of it.
struct OpenSocket {
    std::shared_ptr<SharedSocket> socket;
    // The echo identifier of its requests and replies: the process's on a raw socket, the one
    // the kernel chose on a datagram socket.
    uint16_t identifier = 0;
    // A datagram socket delivers each reply's ICMP message alone, without its IPv4 header.
    bool datagram = false;
    // AF_INET6: an ICMPv6 socket, whose sockets deliver the ICMPv6 message alone, raw or not.
    sa_family_t family = AF_INET;
};
std::map<int, OpenSocket> sockets;

// What the socket can hold of a burst of replies before the loop reads them. The kernel doubles
// the value asked for and counts about 830 bytes per echo reply: room for some 20,000, twice a
// burst of 10,000 with the loop not reading at all.
constexpr int kReceiveBufferBytes = 8 << 20;

uint16_t globalPID = 0;
alignas(8) uint8_t sendBuf[kBufferSize];
sockaddr_in dstAddress;

OpenSocket findSocket(int fd) {
    auto found = sockets.find(fd);
    return found != sockets.end() ? found->second : OpenSocket{};
}

// The echo identifier of this process's raw sockets.
uint16_t processIdentifier() {
    return static_cast<uint16_t>(::getpid() & 0xFFFF);
}

// Forced past the system's maximum where the process may (CAP_NET_ADMIN), else as much as the
// system allows: the kernel cuts the request down to net.core.rmem_max.
void raiseReceiveBuffer(int fd) {
    int bytes = kReceiveBufferBytes;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0) return;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

// Replaces the log file's content with one line. The file is not followed through a symbolic
// link and must be a regular file with no other name, so a root process can't be made to
// truncate some other file; when it can't be opened that way the line is dropped.
void writeLogFile(const char* line) {
    const char* path = pingLogFile;
    if (path == nullptr) return;
    ScopedFd file(::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (!file) return;
    struct stat st;
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) return;
    if (::ftruncate(file.get(), 0) != 0) return;
    writeFully(file.get(), line, std::strlen(line));  // a failed write leaves the line out
}

// A socket error line: into the log file, and on standard output when tracing.
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logLine(const char* format, ...) {
    char line[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    writeLogFile(line);
    printTrace("%s", line);
}

// An address in its text form (dotted, or IPv6 text).
const char* addressText(int family, const void* address, char (&text)[INET6_ADDRSTRLEN]) {
    if (::inet_ntop(family, address, text, sizeof text) == nullptr) text[0] = '\0';
    return text;
}

// Puts a socket that has just been opened into the table, or logs the error of the attempt
// (`openErr`) when `socket` holds none. `thenUnderLock` runs under the table's lock once the
// socket is in. The descriptor, or -1.
template <typename ThenUnderLock>
int enterSocket(ScopedFd& socket, OpenSocket opened, int openErr, ThenUnderLock thenUnderLock) {
    if (!socket) {
        logLine("Error: Failed to open socket (errno = %d)\n", openErr);
        return -1;
    }
    raiseReceiveBuffer(socket.get());
    // The loops on this socket wait on its wake descriptor too, for its shutdown.
    const int fd = socket.get();
    int err = 0;
    opened.socket = SharedSocket::adopt(socket.release(), &err);
    if (!opened.socket) {
        logLine("Error: Failed to open socket (errno = %d)\n", err);
        return -1;
    }

    std::lock_guard<std::mutex> lock(socketsMutex);
    try {
        sockets.emplace(fd, std::move(opened));
    } catch (const std::bad_alloc&) {
        logLine("Error: Failed to open socket (errno = %d)\n", ENOMEM);
        return -1;
    }
    thenUnderLock();
    return fd;
}

// With the table's lock held: the socket `fd` when it is in the table with `family`, else null
// (never opened here, shut down, or of the other family) with errno EBADF, as for a send on a
// closed descriptor, and the send's diagnostic line.
const OpenSocket* socketToSendOn(int fd, sa_family_t family) {
    auto found = sockets.find(fd);
    if (found != sockets.end() && found->second.family == family) return &found->second;
    // Sending on a descriptor we don't hold could write into someone else's file, and a request
    // of the other family would be garbage on this socket.
    printTrace("Error sending ping (errno = %d)\n", EBADF);
    errno = EBADF;
    return nullptr;
}

// Bytes of each request: the setting, kept within the buffer and long enough for the time.
size_t requestSize() {
    return static_cast<size_t>(std::clamp(packetsize,
                                          static_cast<int>(kIcmpHeaderLength + kSendTimeLength),
                                          static_cast<int>(kBufferSize)));
}

// Writes what each send changes in a request: checksum 0, sequence number `reqID` and the send
// time, read now.
void stampRequest(uint8_t* request, uint16_t reqID) {
    write16(request + kIcmpChecksumAt, 0);
    write16(request + kIcmpSequenceAt, reqID);
    writeSendTime(request + kSendTimeAt);
}

// Sends `size` bytes of `request` to `to`, whose address is `toAddress`, and prints the send's
// diagnostic line. 0 when the whole request went out, else -1.
int sendRequest(int fd, const uint8_t* request, size_t size, const sockaddr* to, socklen_t toLength,
                const void* toAddress, uint16_t reqID) {
    const ssize_t sent = ::sendto(fd, request, size, 0, to, toLength);
    if (sent < 0 || static_cast<size_t>(sent) != size) {
        const int err = errno;
        printTrace("Error sending ping (errno = %d)\n", err);
        return -1;
    }
    if (traceOn()) {
        char destination[INET6_ADDRSTRLEN];
        printTrace("Sent ping to %s (reqid = %d)\n",
                   addressText(to->sa_family, toAddress, destination), reqID);
    }
    return 0;
}

// The time from `sent` to `now` in microseconds. Seconds are compared as the 32-bit values the
// request carries.
int64_t elapsedMicros(const timeval& sent, const timeval& now) {
    uint32_t secondsApart = static_cast<uint32_t>(now.tv_sec) - static_cast<uint32_t>(sent.tv_sec);
    return static_cast<int64_t>(static_cast<int32_t>(secondsApart)) * 1000000 +
           (static_cast<int64_t>(now.tv_usec) - static_cast<int64_t>(sent.tv_usec));
}

// Whole milliseconds, cut toward zero.
int32_t wholeMillis(int64_t micros) {
    return static_cast<int32_t>(std::clamp<int64_t>(
        micros / 1000, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// A reading shown as a 32-bit count of milliseconds: the time of day (UTC).
int32_t millisOfDay(const timeval& t) {
    int64_t millis = static_cast<int64_t>(t.tv_sec % 86400) * 1000 + t.tv_usec / 1000;
    return static_cast<int32_t>(millis);
}

// Holds a socket from the table for a loop, and lets go of it when the loop leaves (closing the
// socket if it was shut down meanwhile and this was the last loop).
class LoopRegistration {
  public:
    explicit LoopRegistration(int fd) {
        std::lock_guard<std::mutex> lock(socketsMutex);
        socket_ = findSocket(fd);
    }
    LoopRegistration(const LoopRegistration&) = delete;
    LoopRegistration& operator=(const LoopRegistration&) = delete;

    explicit operator bool() const { return socket_.socket != nullptr; }
    int wakeFd() const { return socket_.socket->wakeFd(); }
    bool shuttingDown() const { return socket_.socket->closed(); }
    uint16_t identifier() const { return socket_.identifier; }
    bool datagram() const { return socket_.datagram; }
    sa_family_t family() const { return socket_.family; }

  private:
    OpenSocket socket_;
};

// The observer's methods for the replies of one family: the one in microseconds, which its class
// may have, else the one in milliseconds.
struct ObserverMethods {
    const char* micros;
    const char* microsSignature;
    const char* millis;
    const char* millisSignature;
};
constexpr ObserverMethods kIpv4Observer{"removePingRequestMicros", "(ISJ)V", "removePingRequest",
                                        "(ISI)V"};
constexpr ObserverMethods kIpv6Observer{"removePingRequest6Micros", "([BSJ)V", "removePingRequest6",
                                        "([BSI)V"};

// Reports to the observer's method in microseconds where its class has it, else to the one in
// milliseconds, of the socket's family. Without either, the NoSuchMethodError reaches the caller
// and no loop runs. An exception thrown by the observer ends the loop and stays pending for the
// caller of nativeReceivePings.
class JavaObserverSink final : public ReplySink {
  public:
    JavaObserverSink(JNIEnv* env, jobject observer) : env_(env), report_(env, observer) {}

    bool start(sa_family_t family) override {
        ipv6_ = family == AF_INET6;
        const ObserverMethods& methods = ipv6_ ? kIpv6Observer : kIpv4Observer;
        inMicros_ = report_.bindOptional(methods.micros, methods.microsSignature);
        return inMicros_ || report_.bind(methods.millis, methods.millisSignature);
    }

    bool onReply(const PingReply& reply) override {
        const jshort reqID = static_cast<jshort>(reply.reqID);
        if (!ipv6_) return report(static_cast<jint>(reply.address), reqID, reply);
        // A new array per reply, let go of after the call: a long loop holds no references.
        ScopedLocalRef<jbyteArray> address(env_, newIpv6Address(env_, reply.address6));
        if (address.get() == nullptr) return false;  // OutOfMemoryError pending
        return report(address.get(), reqID, reply);
    }

  private:
    template <typename Address>
    bool report(Address address, jshort reqID, const PingReply& reply) {
        if (inMicros_)
            return report_.call(address, reqID, static_cast<jlong>(reply.roundtripMicros));
        return report_.call(address, reqID, static_cast<jint>(reply.roundtripTime));
    }

    JNIEnv* env_;
    ListenerMethod report_;
    bool ipv6_ = false;
    bool inMicros_ = false;
};

// The echo reply of type `replyType` among the `length` bytes of an ICMP or ICMPv6 message at
// `icmp` (both put the identifier, the sequence number and the echo data in the same places),
// without its sender; nothing when it is to be dropped.
std::optional<PingReply> readEchoReply(const uint8_t* icmp, size_t length, uint8_t replyType,
                                       uint16_t identifier, const timeval& now) {
    if (length < kIcmpHeaderLength) return std::nullopt;
    if (icmp[kIcmpTypeAt] != replyType) return std::nullopt;

    PingReply reply{};
    reply.type = icmp[kIcmpTypeAt];
    // Another process's reply is reported without request id or time.
    if (read16(icmp + kIcmpIdentifierAt) != identifier) return reply;
    // Ours, but without the send time: nothing trustworthy to report.
    if (length < kIcmpHeaderLength + kSendTimeLength) return std::nullopt;

    reply.reqID = read16(icmp + kIcmpSequenceAt);
    reply.sent = readSendTime(icmp + kSendTimeAt);
    reply.roundtripMicros = elapsedMicros(reply.sent, now);
    reply.roundtripTime = wholeMillis(reply.roundtripMicros);
    return reply;
}

}  // namespace

std::optional<PingReply> handleDatagram(const uint8_t* datagram, size_t length,
                                        uint32_t senderAddress, uint16_t identifier,
                                        const timeval& now) {
    if (length < kIpMinHeaderLength) return std::nullopt;
    const size_t headerLength = ipHeaderLength(datagram, length);
    if (headerLength < kIpMinHeaderLength || length < headerLength) return std::nullopt;
    return handleIcmpMessage(datagram + headerLength, length - headerLength, senderAddress,
                             identifier, now);
}

std::optional<PingReply> handleIcmpMessage(const uint8_t* icmp, size_t length,
                                           uint32_t senderAddress, uint16_t identifier,
                                           const timeval& now) {
    std::optional<PingReply> reply = readEchoReply(icmp, length, ICMP_ECHOREPLY, identifier, now);
    if (!reply) return std::nullopt;
    reply->family = AF_INET;
    reply->address = ntohl(senderAddress);
    return reply;
}

std::optional<PingReply> handleIcmp6Message(const uint8_t* icmp, size_t length,
                                            const in6_addr& sender, uint16_t identifier,
                                            const timeval& now) {
    std::optional<PingReply> reply = readEchoReply(icmp, length, ICMP6_ECHO_REPLY, identifier, now);
    if (!reply) return std::nullopt;
    reply->family = AF_INET6;
    reply->address6 = sender;
    return reply;
}

void runReceiveLoop(int icmpsd, ReplySink* sink) {
    LoopRegistration registration(icmpsd);
    if (!registration) {
        // Not a socket of ours (or already shut down): the wait fails as on a closed descriptor.
        logLine("Error receiving pings on icmpsd #%d (errno = %d)\n", icmpsd, EBADF);
        return;
    }
    const bool ipv6 = registration.family() == AF_INET6;
    if (sink != nullptr && !sink->start(registration.family())) return;
    uint8_t rcvBuf[kBufferSize] = {};
    printTrace("getting ready to start reading...\n");
    // While datagrams keep coming they are read without waiting, and a shutdown is looked for
    // between them, so a flood can't hold the loop; it waits only when the socket is empty.
    bool socketEmpty = true;
    for (;;) {
        if (socketEmpty) {
            printTrace("wait on icmp sd %d..\n", icmpsd);
            const SocketWait waited =
                waitForSocket(icmpsd, POLLIN, registration.wakeFd(), Deadline::none());
            if (waited.result == SocketWait::Interrupted) continue;
            if (waited.polled < 0) {
                logLine("Error receiving pings on icmpsd #%d (errno = %d)\n", icmpsd, waited.error);
                return;
            }
            if (waited.polled == 0) continue;
            // Anything else the socket showed is for the receive below to report.
            if (waited.result != SocketWait::Closed) {
                printTrace("Ready to read data, rc = %d errno = %d\n", waited.polled, errno);
            }
        }
        if (registration.shuttingDown()) {
            printTrace("ICMP Socket was closed, terminating\n");
            return;
        }

        sockaddr_in rcvAddress{};
        sockaddr_in6 rcvAddress6{};
        timeval now{};
        const ssize_t received =
            ipv6 ? receiveTimed(icmpsd, rcvBuf, sizeof rcvBuf, MSG_DONTWAIT, &rcvAddress6, &now)
                 : receiveTimed(icmpsd, rcvBuf, sizeof rcvBuf, MSG_DONTWAIT, &rcvAddress, &now);
        int err = errno;
        // Empty (another loop on the same socket may have taken the datagram): wait again.
        socketEmpty = received < 0 && (err == EAGAIN || err == EWOULDBLOCK);
        if (socketEmpty) continue;
        printTrace("read data in, and rc = %d\n", static_cast<int>(received));
        if (received < 0) {
            if (err == EINTR) continue;
            logLine("Error recvfrom, rc = %d, errno = %d\n", static_cast<int>(received), err);
            return;
        }

        const size_t length = static_cast<size_t>(received);
        std::optional<PingReply> reply;
        if (ipv6) {
            reply = handleIcmp6Message(rcvBuf, length, rcvAddress6.sin6_addr,
                                       registration.identifier(), now);
        } else {
            const auto handle = registration.datagram() ? handleIcmpMessage : handleDatagram;
            reply =
                handle(rcvBuf, length, rcvAddress.sin_addr.s_addr, registration.identifier(), now);
        }
        if (!reply) continue;
        if (traceOn()) {
            char sender[INET6_ADDRSTRLEN];
            printTrace(
                "Ping received from %s, type = %d reqID = %d, curTime = %dms, reqTime = %dms, "
                "RTTime = %dms\n",
                ipv6 ? addressText(AF_INET6, &rcvAddress6.sin6_addr, sender)
                     : addressText(AF_INET, &rcvAddress.sin_addr, sender),
                reply->type, reply->reqID, millisOfDay(now), millisOfDay(reply->sent),
                reply->roundtripTime);
        }
        if (sink != nullptr && !sink->onReply(*reply)) return;
    }
}

int openPingSocket6() {
    OpenSocket opened;
    opened.identifier = processIdentifier();
    opened.family = AF_INET6;
    // The kernel wakes the loops only for this process's echo replies.
    icmp6_filter onlyEchoReplies;
    ICMP6_FILTER_SETBLOCKALL(&onlyEchoReplies);
    ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &onlyEchoReplies);
    const FilterProgram ours = pingServiceFilter6(opened.identifier);
    ScopedFd socket(openRawIcmp6Socket(onlyEchoReplies, &ours));
    const int rawErr = errno;
    if (!socket && refusedForPrivilege(rawErr)) {
        socket.reset(openEchoDatagramSocket6(&opened.identifier));
        opened.datagram = true;
    }
    return enterSocket(socket, std::move(opened), rawErr, [] {});
}

int sendPing6(int icmpsd, const in6_addr& dest, uint16_t reqID) {
    // Held through the send, as for IPv4: sends take turns and the socket stays ours meanwhile.
    std::lock_guard<std::mutex> lock(socketsMutex);
    const OpenSocket* socket = socketToSendOn(icmpsd, AF_INET6);
    if (socket == nullptr) return -1;
    const size_t size = requestSize();
    alignas(8) uint8_t request[kBufferSize];
    std::memset(request, 0, size);
    request[kIcmpTypeAt] = ICMP6_ECHO_REQUEST;
    write16(request + kIcmpIdentifierAt, socket->identifier);
    // The checksum stays 0: the kernel computes it over the IPv6 pseudo-header as well.
    stampRequest(request, reqID);
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_addr = dest;
    return sendRequest(icmpsd, request, size, reinterpret_cast<const sockaddr*>(&to), sizeof to,
                       &to.sin6_addr, reqID);
}

}  // namespace orvela::icmp

using orvela::ScopedFd;
using orvela::SharedSocket;
using namespace orvela::icmp;

extern "C" {

ORVELA_EXPORT int icmp_init() {
    OpenSocket opened;
    opened.identifier = processIdentifier();
    // The kernel wakes the loops only for this process's echo replies (other processes' replies
    // are reported with request id 0 only where the kernel refuses the filter).
    ScopedFd socket(openRawReceiveSocket(IPPROTO_ICMP, pingServiceFilter(opened.identifier)));
    const int rawErr = errno;
    if (socket) {
        // Only echo replies, also where the filter above is refused: without either, the loop
        // reads back each of our own outgoing requests too, which halves its rate in a flood.
        // Best effort: where both are refused, the loop's own type check does the same.
        acceptOnlyEchoReplies(socket.get());
    } else if (refusedForPrivilege(rawErr)) {
        // Without the privilege: the datagram kind, where the system allows it to our group.
        socket.reset(openEchoDatagramSocket(&opened.identifier));
        opened.datagram = true;
    }
    return enterSocket(socket, std::move(opened), rawErr, [] {
        globalPID = processIdentifier();
        std::memset(sendBuf, 0, sizeof sendBuf);
        dstAddress = sockaddr_in{};
        dstAddress.sin_family = AF_INET;
        dstAddress.sin_port = 0;
        sendBuf[kIcmpTypeAt] = ICMP_ECHO;
        sendBuf[kIcmpCodeAt] = 0;
        write16(sendBuf + kIcmpChecksumAt, 0);
        write16(sendBuf + kIcmpIdentifierAt, globalPID);
    });
}

ORVELA_EXPORT int send_ping(int icmpsd, int32_t dest, unsigned short reqID, unsigned short) {
    // One request buffer for the process: sends from several threads take turns.
    std::lock_guard<std::mutex> lock(socketsMutex);
    if (socketToSendOn(icmpsd, AF_INET) == nullptr) return -1;
    dstAddress.sin_addr.s_addr = htonl(static_cast<uint32_t>(dest));
    stampRequest(sendBuf, reqID);
    const size_t size = requestSize();
    write16(sendBuf + kIcmpChecksumAt,
            checksum(reinterpret_cast<unsigned short*>(sendBuf), static_cast<int>(size)));
    return sendRequest(icmpsd, sendBuf, size, reinterpret_cast<const sockaddr*>(&dstAddress),
                       sizeof dstAddress, &dstAddress.sin_addr, reqID);
}

ORVELA_EXPORT void icmp_shutdown(int icmpsd) {
    if (icmpsd == -1) return;
    // Declared before the lock, so it is let go of (and closed, if no loop holds it) after it.
    std::shared_ptr<SharedSocket> socket;
    std::lock_guard<std::mutex> lock(socketsMutex);
    auto found = sockets.find(icmpsd);
    if (found == sockets.end()) return;
    socket = std::move(found->second.socket);
    sockets.erase(found);
    // The loops wake up; the last one to leave closes the socket.
    socket->close();
}

ORVELA_EXPORT void receive_pings(int icmpsd, JNIEnv* env, jobject observer) {
    if (env == nullptr || observer == nullptr) {
        runReceiveLoop(icmpsd, nullptr);
        return;
    }
    JavaObserverSink sink(env, observer);
    runReceiveLoop(icmpsd, &sink);
}

ORVELA_EXPORT int TestReceivePings(void* socketIn) {
    printTrace("starting receive_ping...\n");
    receive_pings(static_cast<int>(reinterpret_cast<intptr_t>(socketIn)), nullptr, nullptr);
    printTrace("receive_ping returned...\n");
    return 0;
}

}  // extern "C"
