// Each probe owns its sockets and buffers; nothing is thrown to Java, every outcome reaches the
// listener as a status code.

#include "core/icmp/LatencyProbe.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "binding/ScopedFd.h"
#include "core/icmp/Diagnostics.h"
#include "core/icmp/IcmpLayout.h"
#include "core/icmp/IcmpSockets.h"
#include "core/icmp/InternetChecksum.h"
#include "core/icmp/ListenerMethod.h"
#include "core/icmp/ProbeBuffer.h"
#include "core/icmp/ProbeSettings.h"
#include "core/icmp/ProbeStatus.h"
#include "core/icmp/ProbeText.h"
#include "core/icmp/ProbeWait.h"
#include "core/icmp/QueuedError.h"
#include "core/icmp/SocketAddress.h"

namespace orvela::icmp {
namespace {

// The echo request carries its send time at bytes 48 to 55.
constexpr int kEchoLayoutLength = 56;
constexpr int kEchoTimeOffset = 48;
// Latency time stamps count milliseconds from 2001-02-06 22:53:20 UTC.
constexpr long long kTimeStampEpoch = 981500000LL;
// Time to live sent when the caller asks for 0 or 1.
constexpr unsigned short kDefaultTimeToLive = 25;

std::atomic<int> lastLatencyProbeId{100};

// The checksum field never carries 0: 0xFFFF stands for it.
uint16_t nonZeroChecksum(unsigned short sum) {
    return sum == 0 ? 0xFFFF : sum;
}

uint16_t checksumOf(const unsigned char* bytes, int length) {
    return nonZeroChecksum(in_cksum(reinterpret_cast<const unsigned short*>(bytes), length));
}

double timeStamp(const timeval& tv) {
    return static_cast<double>(static_cast<long long>(tv.tv_sec) - kTimeStampEpoch) * 1000.0 +
           static_cast<double>(tv.tv_usec) / 1000.0;
}

// Milliseconds from one time stamp to another, cut toward zero to whole microseconds.
double roundTrip(double sendTime, double recvTime) {
    return static_cast<double>(static_cast<long long>((recvTime - sendTime) * 1000.0)) / 1000.0;
}

// The lines createSendSocket has always printed about opening a send socket.
void printSendSocketLines(const RawSendSocket& opened) {
    if (opened.failedStep == SendSocketStep::Socket) {
        printVerbose(">>>> cannot create raw socket: %s\n", strerror(opened.err));
        return;
    }
    printVerbose("&&&&&&&&&&&&&&&& SO_SNDBUF \n\n");
    if (opened.failedStep == SendSocketStep::SendBuffer) {
        printVerbose(">>>>  SO_SNDBUF: %s\n", strerror(opened.err));
        return;
    }
    printVerbose("&&&&&&&&&&&&&&&& IP_HDRINCL \n\n");
    if (opened.failedStep == SendSocketStep::HeaderIncluded) {
        printVerbose(">>>> IP_HDRINCL: %s\n", strerror(opened.err));
    }
}

// Builds the echo request of try `seq` in `outip`: the IPv4 header, then the ICMP message with
// its send time. The send time as a time stamp.
double buildEchoRequest(unsigned char* outip, int id, int seq, int ttl, int packlen,
                        const struct sockaddr_in* to) {
    memset(outip, 0, static_cast<size_t>(packlen));

    outip[0] = kIpVersion4NoOptions;
    write16(outip + kIpTotalLengthAt, static_cast<uint16_t>(packlen));
    write16(outip + kIpIdentificationAt, static_cast<uint16_t>(id + seq));
    outip[kIpTimeToLiveAt] = static_cast<unsigned char>(ttl);
    outip[kIpProtocolAt] = IPPROTO_ICMP;
    memcpy(outip + kIpDestinationAt, &to->sin_addr.s_addr, 4);
    write16(outip + kIpChecksumAt, checksumOf(outip, kIpMinHeaderLength));

    unsigned char* icmp = outip + kIpMinHeaderLength;
    icmp[kIcmpTypeAt] = ICMP_ECHO;
    icmp[kIcmpCodeAt] = 0;
    write16(icmp + kIcmpIdentifierAt, static_cast<uint16_t>(id));
    write16(icmp + kIcmpSequenceAt, static_cast<uint16_t>(seq));

    const timeval now = writeSendTime(outip + kEchoTimeOffset);

    write16(icmp + kIcmpChecksumAt, checksumOf(icmp, packlen - kIpMinHeaderLength));
    printVerbose("[ping-%d-%d]going to send %d bytes to %s\n", id, seq, packlen,
                 inet_ntoa(to->sin_addr));
    return timeStamp(now);
}

// The lines about a send of `cc` of the datagram's `packlen` bytes; the send time, or -1.0 when
// nothing went out.
double sentEchoRequest(int cc, int packlen, double sendTime) {
    if (cc < 0) {
        printVerbose(">>>> send failed, cc: %d\n", cc);
        return -1.0;
    }
    if (cc < packlen) {
        printVerbose("sent %d bytes (*** less than packet_size)\n", cc);
        return sendTime;
    }
    printVerbose("Sent %d bytes at %g\n", cc, sendTime);
    return sendTime;
}

// sendPingPacket, giving up on the send at the try's deadline.
double sendPingPacketUntil(int sndsock, unsigned char* outip, int id, int seq, int ttl, int packlen,
                           const struct sockaddr_in* to, const Deadline& deadline) {
    if (outip == nullptr || to == nullptr || packlen < kEchoLayoutLength) return -1.0;
    const double sendTime = buildEchoRequest(outip, id, seq, ttl, packlen, to);
    const int cc = sendUntil(sndsock, outip, packlen, reinterpret_cast<const sockaddr*>(to),
                             sizeof *to, deadline);
    return sentEchoRequest(cc, packlen, sendTime);
}

// The same request on a datagram echo socket, which takes the ICMP message alone: the system
// writes the IPv4 header (with the socket's time to live), the identifier and the checksum.
double sendEchoDatagramUntil(int sock, unsigned char* outip, int id, int seq, int ttl, int packlen,
                             const struct sockaddr_in* to, const Deadline& deadline) {
    const double sendTime = buildEchoRequest(outip, id, seq, ttl, packlen, to);
    // An ICMP error about an earlier try leaves a socket error that would fail this send.
    takePendingError(sock);
    const int cc = sendUntil(sock, outip + kIpMinHeaderLength, packlen - kIpMinHeaderLength,
                             reinterpret_cast<const sockaddr*>(to), sizeof *to, deadline);
    return sentEchoRequest(cc < 0 ? cc : cc + kIpMinHeaderLength, packlen, sendTime);
}

// ping_packet_ok; with `probed`, only what concerns that address answers: an echo reply from
// it, or an error that quotes a request to it. Another host's reply to another probe with the
// same identifier (another process's, which counts from 101 too) is not this try's.
int echoAnswerType(int sendID, const unsigned char* recvBuf, int bytesRead,
                   const struct sockaddr_in* from, int sendSEQ, const in_addr* probed) {
    const int headerLen = ipHeaderLength(recvBuf, bytesRead);
    if (recvBuf == nullptr || headerLen < kIpMinHeaderLength ||
        bytesRead < headerLen + kIcmpHeaderLength) {
        printVerbose(" >>>> deliver() too few bytes received\n");
        return -1;
    }
    if (recvBuf[kIpProtocolAt] != IPPROTO_ICMP) {
        printVerbose("deliver() : bad packet, not ICMP: protocol: %d\n", recvBuf[kIpProtocolAt]);
        return -1;
    }
    const unsigned char* icmp = recvBuf + headerLen;
    const int icmpLen = bytesRead - headerLen;
    const int type = icmp[kIcmpTypeAt];
    const int code = icmp[kIcmpCodeAt];
    printVerbose(" === ICMP packet, type: %d, code: %d, from %s\n", type, code, dotted(from));
    // Errors quote the datagram that caused them; the identifier and sequence number are read
    // from the quoted ICMP header, other messages carry them in their own.
    const unsigned char* echoHeader = icmp;
    if (type == ICMP_DEST_UNREACH || type == ICMP_TIME_EXCEEDED) {
        const unsigned char* quoted = icmp + kIcmpHeaderLength;
        const int quotedLen = ipHeaderLength(quoted, icmpLen - kIcmpHeaderLength);
        if (quotedLen < kIpMinHeaderLength ||
            kIcmpHeaderLength + quotedLen + kIcmpHeaderLength > icmpLen) {
            return -1;
        }
        // Only an echo request of ours is quoted as ICMP: a trace probe's UDP length and
        // checksum lie where the identifier and sequence number would be.
        if (quoted[kIpProtocolAt] != IPPROTO_ICMP) return -1;
        if (probed != nullptr && memcmp(quoted + kIpDestinationAt, &probed->s_addr, 4) != 0) {
            return -1;
        }
        echoHeader = quoted + quotedLen;
    } else if (probed != nullptr && (from == nullptr || from->sin_addr.s_addr != probed->s_addr)) {
        return -1;
    }
    // The request itself, seen on its way to this host's own address, answers nothing.
    if (type == ICMP_ECHO) return -1;
    if (read16(echoHeader + kIcmpIdentifierAt) == static_cast<uint16_t>(sendID) &&
        read16(echoHeader + kIcmpSequenceAt) == static_cast<uint16_t>(sendSEQ)) {
        return type;
    }
    return -1;
}

// What one start_test call holds from its set-up to its report.
struct Probe {
    // The caller's ttl (0 or 1: the default) and datagram length, as the probe uses them.
    Probe(unsigned short probeId, unsigned short requestedTtl, int datalength)
        : id(probeId),
          ttl(requestedTtl == 0 || requestedTtl == 1 ? kDefaultTimeToLive : requestedTtl),
          datalen(limitLength(datalength)) {}

    unsigned short id = 0;
    unsigned short ttl = 0;
    int datalen = 0;
    sockaddr_in to{};
    sockaddr_in6 to6{};              // the destination over IPv6
    orvela::ScopedFd sendSocket;     // over IPv6 or on a datagram socket, the one socket
    orvela::ScopedFd receiveSocket;  // raw IPv4 sockets only
    bool datagram = false;
    Buffer pingBuffer;
    Buffer replyBuffer;

    bool ipv6() const { return to6.sin6_family == AF_INET6; }
};

// The buffers of the request and of what is received: kStatusAnswered, or kStatusNoMemory.
int allocateBuffers(Probe& probe) {
    probe.pingBuffer = allocateBuffer(probe.datalen);
    probe.replyBuffer = allocateBuffer(probe.datalen);
    return probe.pingBuffer && probe.replyBuffer ? kStatusAnswered : kStatusNoMemory;
}

// The verbose line about what a probe's socket delivered (`cc` bytes of `message`, or an entry
// of its error queue).
void printDelivery(const unsigned char* message, int cc, const Delivery& delivery) {
    if (!verboseOn()) return;  // the address text is in a buffer all threads share
    const bool queued = delivery.queuedError;
    const int type = queued ? delivery.error.type : cc > 0 ? message[kIcmpTypeAt] : 0;
    const int code = queued ? delivery.error.code : cc > 1 ? message[kIcmpCodeAt] : 0;
    printVerbose(" === ICMP packet, type: %d, code: %d, from %s\n", type, code,
                 numericText(queued ? delivery.error.offender : delivery.from));
}

// The raw send socket, with the lines about opening it.
bool takeSendSocket(Probe& probe, const RawSendSocket& opened) {
    printSendSocketLines(opened);
    probe.sendSocket.reset(opened.fd);
    if (probe.sendSocket) return true;
    if (verboseOn()) {
        printError("start_test: ip socket", opened.err);
        printVerbose("start_test: ip socket error.\n");
    }
    return false;
}

// The receive socket: the echo replies and ICMP errors that concern the probe.
bool openReceiveSocket(Probe& probe) {
    const int protocol = icmpProtocol();
    probe.receiveSocket.reset(
        protocol < 0
            ? -1
            : openRawReceiveSocket(protocol,
                                   latencyProbeFilter(probe.id, ntohl(probe.to.sin_addr.s_addr))));
    if (probe.receiveSocket) return true;
    const int err = protocol < 0 ? ENOPROTOOPT : errno;
    if (verboseOn()) {
        printError("traceroute: icmp socket", err);
        printVerbose("traceroute: icmp socket error.\n");
    }
    return false;
}

// Without the privilege for raw sockets: one datagram echo socket that sends and receives, with
// the probe's time to live, queuing the ICMP errors about its requests. The kernel chose its
// identifier and hands it only its own replies.
bool openDatagramSocket(Probe& probe) {
    uint16_t identifier = 0;
    orvela::ScopedFd sock(openEchoDatagramSocket(&identifier));
    if (!sock || !requestQueuedErrors(sock.get()) ||
        !setTimeToLive(sock.get(), AF_INET, probe.ttl)) {
        return false;
    }
    probe.sendSocket.reset(sock.release());
    probe.datagram = true;
    return true;
}

// Sockets and buffers: kStatusAnswered, or the status the probe reports without a try.
int setUp(Probe& probe) {
    const RawSendSocket raw = openRawSendSocket(probe.datalen);
    const bool unprivileged =
        raw.failedStep == SendSocketStep::Socket && refusedForPrivilege(raw.err);
    if (!unprivileged || !openDatagramSocket(probe)) {
        // Both raw sockets are tried, so that the verbose lines name every failure.
        const bool sendOpen = takeSendSocket(probe, raw);
        const bool receiveOpen = openReceiveSocket(probe);
        if (!sendOpen || !receiveOpen) return kStatusFailed;
    }
    return allocateBuffers(probe);
}

// Waits until `deadline` for the echo reply to try `seq`, dropping what doesn't concern it.
// True with the round trip in `latency` (milliseconds, whole microseconds); false when the
// wait ended without a reply, or with an ICMP error that quotes the try.
bool awaitEchoReply(Probe& probe, int seq, const Deadline& deadline, double sendTime,
                    double& latency) {
    for (;;) {
        sockaddr_in from{};
        timeval received{};
        const int cc = receiveUntil(probe.receiveSocket.get(), &from, probe.replyBuffer.get(),
                                    probe.datalen, deadline, &received);
        if (cc <= 0) return false;
        const double recvTime = timeStamp(received);
        const int type =
            echoAnswerType(probe.id, probe.replyBuffer.get(), cc, &from, seq, &probe.to.sin_addr);
        if (type == -1) continue;
        if (type != 0) return false;
        latency = roundTrip(sendTime, recvTime);
        return true;
    }
}

// What a datagram echo socket delivered, as ping_packet_ok answers for a raw socket: 0 for the
// echo reply to try `seq` from the probed host, the ICMP type of an error that quotes the try's
// request to it, -1 for anything else.
int deliveredAnswerType(const Probe& probe, int cc, const Delivery& delivery, int seq) {
    const unsigned char* message = probe.replyBuffer.get();
    if (cc < kIcmpHeaderLength) return -1;
    if (delivery.queuedError && !delivery.error.fromIcmp) return -1;  // the system's own
    const int type = delivery.queuedError ? delivery.error.type : message[kIcmpTypeAt];
    printDelivery(message, cc, delivery);
    // An error carries the request it quotes; a reply, the request's identifier and sequence.
    const SocketAddress& concerned = delivery.queuedError ? delivery.error.quotedTo : delivery.from;
    if (concerned.v4.sin_addr.s_addr != probe.to.sin_addr.s_addr) return -1;
    if (!delivery.queuedError && type != ICMP_ECHOREPLY) return -1;
    if (read16(message + kIcmpSequenceAt) != static_cast<uint16_t>(seq)) return -1;
    return type;
}

// deliveredAnswerType over IPv6, with ICMP6_ECHO_REPLY for the reply.
int delivered6AnswerType(const Probe& probe, int cc, const Delivery& delivery, int seq) {
    const unsigned char* message = probe.replyBuffer.get();
    printDelivery(message, cc, delivery);
    const uint16_t* identifier = probe.datagram ? nullptr : &probe.id;
    return echo6AnswerType(identifier, probe.to6.sin6_addr, seq, message, cc, delivery);
}

// awaitEchoReply on the one socket that sends and receives: a datagram echo socket, or over
// IPv6 the raw ICMPv6 socket.
bool awaitDeliveredReply(Probe& probe, int seq, const Deadline& deadline, double sendTime,
                         double& latency) {
    const int replyType = probe.ipv6() ? ICMP6_ECHO_REPLY : ICMP_ECHOREPLY;
    for (;;) {
        Delivery delivery;
        const int cc = receiveDeliveryUntil(probe.sendSocket.get(), probe.replyBuffer.get(),
                                            probe.datalen, deadline, &delivery);
        if (cc <= 0) return false;
        const int type = probe.ipv6() ? delivered6AnswerType(probe, cc, delivery, seq)
                                      : deliveredAnswerType(probe, cc, delivery, seq);
        if (type == -1) continue;
        if (type != replyType) return false;
        latency = roundTrip(sendTime, timeStamp(delivery.received));
        return true;
    }
}

// Over IPv6 one socket sends and receives: a raw ICMPv6 socket that hears only the probe's echo
// replies and the errors that quote its requests, or, without the privilege, a datagram echo
// socket that queues the errors about its requests. Either takes the hop limit of the probe, and
// the kernel computes the checksum. kStatusAnswered, or the status the probe reports without a
// try.
int setUp6(Probe& probe) {
    icmp6_filter types;
    ICMP6_FILTER_SETBLOCKALL(&types);
    for (const int type :
         {ICMP6_ECHO_REPLY, ICMP6_DST_UNREACH, ICMP6_PACKET_TOO_BIG, ICMP6_TIME_EXCEEDED}) {
        ICMP6_FILTER_SETPASS(type, &types);
    }
    const FilterProgram filter = latencyProbeFilter6(probe.id, probe.to6.sin6_addr);
    orvela::ScopedFd sock(openRawIcmp6Socket(types, &filter));
    if (!sock && refusedForPrivilege(errno)) {
        uint16_t identifier = 0;
        sock.reset(openEchoDatagramSocket6(&identifier));
        probe.datagram = true;
        if (sock && !requestQueuedErrors(sock.get(), AF_INET6)) sock.reset(-1);
    }
    if (!sock || !setTimeToLive(sock.get(), AF_INET6, probe.ttl)) {
        if (verboseOn()) printError("start_test: icmp6 socket", errno);
        return kStatusFailed;
    }
    probe.sendSocket.reset(sock.release());
    return allocateBuffers(probe);
}

// The echo request of try `seq` over IPv6: the ICMPv6 message alone, `datalen` less the IPv6
// header's 40 bytes, with the send time after its header. The send time, or -1.0.
double sendEcho6Until(Probe& probe, int seq, const Deadline& deadline) {
    const int length = probe.datalen - kIp6HeaderLength;
    unsigned char* message = probe.pingBuffer.get();
    memset(message, 0, static_cast<size_t>(length));
    message[kIcmpTypeAt] = ICMP6_ECHO_REQUEST;
    write16(message + kIcmpIdentifierAt, probe.id);
    write16(message + kIcmpSequenceAt, static_cast<uint16_t>(seq));
    const timeval now = writeSendTime(message + kIcmpHeaderLength);
    if (verboseOn()) {
        SocketAddress to{};
        to.v6 = probe.to6;
        printVerbose("[ping-%d-%d]going to send %d bytes to %s\n", probe.id, seq, probe.datalen,
                     numericText(to));
    }
    // An ICMPv6 error about an earlier try leaves a socket error that would fail this send.
    if (probe.datagram) takePendingError(probe.sendSocket.get());
    const int cc =
        sendUntil(probe.sendSocket.get(), message, length,
                  reinterpret_cast<const sockaddr*>(&probe.to6), sizeof probe.to6, deadline);
    return sentEchoRequest(cc < 0 ? cc : cc + kIp6HeaderLength, probe.datalen, timeStamp(now));
}

// The tries of a probe, until one is answered or nprobes are made.
struct Tries {
    int made = 0;
    bool answered = false;
    double latency = 0.0;
};

Tries runTries(Probe& probe, int timeout) {
    Tries tries;
    const int count = nprobes;
    TryDeadlines deadlines(timeout);
    while (!tries.answered && tries.made < count) {
        const int seq = tries.made++;
        // The deadline covers the send too: a send that can't go out by then fails the try.
        const Deadline deadline = deadlines.next();
        if (probe.ipv6()) {
            const double sendTime = sendEcho6Until(probe, seq, deadline);
            tries.answered = awaitDeliveredReply(probe, seq, deadline, sendTime, tries.latency);
            continue;
        }
        const auto send = probe.datagram ? sendEchoDatagramUntil : sendPingPacketUntil;
        const auto await = probe.datagram ? awaitDeliveredReply : awaitEchoReply;
        const double sendTime = send(probe.sendSocket.get(), probe.pingBuffer.get(), probe.id, seq,
                                     probe.ttl, probe.datalen, &probe.to, deadline);
        tries.answered = await(probe, seq, deadline, sendTime, tries.latency);
    }
    return tries;
}

}  // namespace

int echo6AnswerType(const uint16_t* identifier, const in6_addr& probed, int seq,
                    const unsigned char* message, int cc, const Delivery& delivery) {
    if (message == nullptr || cc < kIcmpHeaderLength) return -1;
    SocketAddress target{};
    target.v6.sin6_family = AF_INET6;
    target.v6.sin6_addr = probed;
    if (delivery.queuedError) {
        // The system's own errors answer nothing; an ICMPv6 one comes with the request it quotes.
        if (!delivery.error.fromIcmp || !sameHost(delivery.error.quotedTo, target)) return -1;
        if (read16(message + kIcmpSequenceAt) != static_cast<uint16_t>(seq)) return -1;
        return delivery.error.type;
    }
    const int type = message[kIcmpTypeAt];
    const unsigned char* echo = message;
    if (type == ICMP6_DST_UNREACH || type == ICMP6_PACKET_TOO_BIG || type == ICMP6_TIME_EXCEEDED) {
        // The quoted request: an IPv6 header without extensions, then the echo header.
        const unsigned char* quoted = message + kIcmpHeaderLength;
        if (cc < kIcmpHeaderLength + kIp6HeaderLength + kIcmpHeaderLength) return -1;
        if (quoted[kIp6NextHeaderAt] != IPPROTO_ICMPV6) return -1;
        if (memcmp(quoted + kIp6DestinationAt, &probed, sizeof probed) != 0) return -1;
        echo = quoted + kIp6HeaderLength;
        if (echo[kIcmpTypeAt] != ICMP6_ECHO_REQUEST) return -1;
    } else if (type != ICMP6_ECHO_REPLY || !sameHost(delivery.from, target)) {
        return -1;
    }
    if (identifier != nullptr && read16(echo + kIcmpIdentifierAt) != *identifier) return -1;
    if (read16(echo + kIcmpSequenceAt) != static_cast<uint16_t>(seq)) return -1;
    return type;
}

int probeLatency6(unsigned short id, const in6_addr& dest, jbyteArray jdest, unsigned short ttl,
                  int datalength, int timeout, JNIEnv* env, jobject listener) {
    ListenerMethod report(env, listener);
    if (!report.bind("handleLatency6", "(II[BIDI)V")) return kStatusFailed;

    Probe probe(id, ttl, datalength);
    probe.to6.sin6_family = AF_INET6;
    probe.to6.sin6_addr = dest;

    const int setUpStatus = setUp6(probe);
    const Tries tries = setUpStatus == kStatusAnswered ? runTries(probe, timeout) : Tries{};
    int rc = setUpStatus;
    if (rc == kStatusAnswered && !tries.answered) rc = kStatusFailed;
    report.call(jint{id}, jint{tries.made}, jdest, jint{rc}, jdouble{tries.latency},
                jint{probe.datalen});
    return rc;
}

unsigned short nextLatencyProbeId() {
    const int pingIdentifier = getpid() & 0xFFFF;
    int current = lastLatencyProbeId.load();
    int next;
    do {
        next = current;
        do {
            next = next + 1 == 65536 ? 100 : next + 1;
        } while (next == pingIdentifier);
    } while (!lastLatencyProbeId.compare_exchange_weak(current, next));
    return static_cast<unsigned short>(next);
}

}  // namespace orvela::icmp

using namespace orvela::icmp;

extern "C" {

int createSendSocket(int packetSize) {
    const RawSendSocket opened = openRawSendSocket(packetSize);
    printSendSocketLines(opened);
    return opened.fd;
}

double sendPingPacket(int sndsock, unsigned char* outip, int id, int seq, int ttl, int packlen,
                      const struct sockaddr_in* to) {
    return sendPingPacketUntil(sndsock, outip, id, seq, ttl, packlen, to, probeDeadline(0));
}

int ping_packet_ok(int sendID, const unsigned char* recvBuf, int bytesRead,
                   const struct sockaddr_in* from, int sendSEQ) {
    return echoAnswerType(sendID, recvBuf, bytesRead, from, sendSEQ, nullptr);
}

int start_test(unsigned short id, uint32_t dest, unsigned short ttl, int datalength, int service,
               int timeout, JNIEnv* env, jobject listener) {
    (void)service;  // the type of service stays 0
    ListenerMethod report(env, listener);
    if (!report.bind("handleLatency", "(IIIIDII)V")) return kStatusFailed;

    Probe probe(id, ttl, datalength);
    probe.to.sin_family = AF_INET;
    probe.to.sin_port = 0;
    probe.to.sin_addr.s_addr = htonl(dest);

    const jint jdest = static_cast<jint>(dest);
    const int setUpStatus = setUp(probe);
    if (setUpStatus != kStatusAnswered) {
        report.call(jint{id}, jint{0}, jdest, jint{setUpStatus}, jdouble{0.0}, jint{probe.datalen},
                    jdest);
        return setUpStatus;
    }
    const Tries tries = runTries(probe, timeout);
    const int rc = tries.answered ? kStatusAnswered : kStatusFailed;
    report.call(jint{id}, jint{tries.made}, jdest, jint{rc}, jdouble{tries.latency},
                jint{probe.datalen}, jdest);
    return rc;
}

}  // extern "C"
