// Each trace owns its sockets and buffers; nothing is thrown to Java, every outcome reaches the
// listener as a status code.

#include "core/icmp/RouteTrace.h"

#include <arpa/inet.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "binding/ScopedFd.h"
#include "binding/ScopedLocalRef.h"
#include "core/icmp/Diagnostics.h"
#include "core/icmp/IcmpLayout.h"
#include "core/icmp/IcmpSockets.h"
#include "core/icmp/JavaIpv6Address.h"
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

// The probe: IPv4 header, UDP header, then its sequence and time to live bytes, an alignment
// gap and a time value.
constexpr size_t kProbeSeqAt = kIpMinHeaderLength + kUdpHeaderLength;
constexpr size_t kProbeTtlAt = kProbeSeqAt + 1;
constexpr int kProbeLayoutLength = 40;
// Over IPv6 the system writes a 40-byte header and the UDP header; the probe's data is the same.
constexpr int kIpv4UdpHeaders = kIpMinHeaderLength + kUdpHeaderLength;
constexpr int kIpv6UdpHeaders = kIp6HeaderLength + kUdpHeaderLength;
// The highest hop when the caller asks for 0 or 1.
constexpr int kDefaultHighestHop = 25;

// Fills in the probe of `seq` at time to live `ttl`: the IPv4 header's variable fields, the UDP
// header, and the probe's sequence and time to live bytes. False when there is no room for it.
// An IPv6 probe (`ipVersion` 6) sends only the data from the probe's sequence byte on, and its
// verbose lines show only that.
bool buildProbe(int id, int seq, int ttl, unsigned char* outpacket, int datalen,
                int ipVersion = 4) {
    if (outpacket == nullptr || datalen < kProbeLayoutLength) return false;
    const uint16_t sourcePort = static_cast<uint16_t>(id);
    const uint16_t destinationPort = static_cast<uint16_t>(port + static_cast<unsigned>(seq));

    unsigned char* ip = outpacket;
    ip[0] = kIpVersion4NoOptions;
    write16(ip + kIpTotalLengthAt, static_cast<uint16_t>(datalen));
    write16(ip + kIpIdentificationAt, static_cast<uint16_t>(id));
    write16(ip + kIpFragmentAt, 0);
    ip[kIpTimeToLiveAt] = static_cast<unsigned char>(ttl);
    ip[kIpProtocolAt] = IPPROTO_UDP;
    write16(ip + kIpChecksumAt, 0);
    unsigned char* udp = outpacket + kIpMinHeaderLength;
    write16(udp + kUdpSourcePortAt, sourcePort);
    write16(udp + kUdpDestinationPortAt, destinationPort);
    write16(udp + kUdpLengthAt, static_cast<uint16_t>(datalen - kIpMinHeaderLength));
    write16(udp + kUdpChecksumAt, 0);
    outpacket[kProbeSeqAt] = static_cast<unsigned char>(seq);
    outpacket[kProbeTtlAt] = static_cast<unsigned char>(ttl);

    if (verboseOn()) {
        printVerbose("send_probe:: IP Version is %d \n", ipVersion);
        printVerbose("send_probe:: Sending probe length %d ttl %d\n", datalen, ttl);
        printVerbose("send_probe:: destination port is %d \n", static_cast<int>(destinationPort));
        printVerbose("send_probe:: source port is %d \n", static_cast<int>(sourcePort));
        printVerbose("send_probe:: id is \n");
        printVerbose("\ncontents of probe follows:\n");
        if (ipVersion == 6) {
            dumpWords(outpacket + kIpv4UdpHeaders, datalen - kIpv6UdpHeaders, 0,
                      datalen - kIpv6UdpHeaders, 0);
        } else {
            dumpWords(outpacket, datalen, 0, datalen, 0);
        }
    }
    return true;
}

void printShortSend(int datalen, int cc) {
    if (cc >= 0 && cc == datalen) return;
    printVerbose("send_probe:: wrote %d chars, ret=%d\n", datalen, cc);
}

// send_probe, giving up on the send at the probe's deadline.
void sendProbeUntil(int sock, int id, int seq, int ttl, const struct sockaddr* whereto,
                    unsigned char* outpacket, int datalen, struct timeval* sent_tv,
                    const Deadline& deadline) {
    timeval sent{};
    if (!buildProbe(id, seq, ttl, outpacket, datalen)) {
        if (sent_tv != nullptr) *sent_tv = sent;
        return;
    }
    gettimeofday(&sent, nullptr);
    if (sent_tv != nullptr) *sent_tv = sent;
    printShortSend(datalen,
                   sendUntil(sock, outpacket, datalen, whereto, sizeof(sockaddr_in), deadline));
}

// The same probe from a UDP socket of either family, which needs no privilege: the system
// writes the headers, with the socket's time to live (hop limit) and a source port of its
// choosing, so only the probe's data is sent, to the probe's port. The IP datagram is `datalen`
// bytes long in either family.
void sendUdpProbeUntil(int sock, int id, int seq, int ttl, const SocketAddress& whereto,
                       unsigned char* outpacket, int datalen, struct timeval* sent_tv,
                       const Deadline& deadline) {
    const bool ipv6 = whereto.any.sa_family == AF_INET6;
    *sent_tv = timeval{};
    if (!buildProbe(id, seq, ttl, outpacket, datalen, ipv6 ? 6 : 4)) return;
    setTimeToLive(sock, whereto.any.sa_family, ttl);
    // An ICMP error about an earlier probe leaves a socket error that would fail this send.
    takePendingError(sock);
    SocketAddress to = whereto;
    const uint16_t probePort = htons(static_cast<uint16_t>(port + static_cast<unsigned>(seq)));
    if (ipv6) {
        to.v6.sin6_port = probePort;
    } else {
        to.v4.sin_port = probePort;
    }
    const int headers = ipv6 ? kIpv6UdpHeaders : kIpv4UdpHeaders;
    gettimeofday(sent_tv, nullptr);
    // The data always starts at the probe's sequence byte.
    const int cc = sendUntil(sock, outpacket + kIpv4UdpHeaders, datalen - headers, &to.any,
                             addressLength(to), deadline);
    printShortSend(datalen, cc < 0 ? cc : cc + headers);
}

// A destination-unreachable answer of a hop, reported just before the hop.
struct UnreachableAnswer {
    int seq;
    SocketAddress address;
    int code;
};

// Where a trace goes: an IPv4 destination (as an address integer) or an IPv6 one (with the
// caller's array, which each report hands back).
struct Destination {
    SocketAddress address{};
    jint jdest = 0;
    jbyteArray jdest6 = nullptr;
};

// What one start_trace call holds from its set-up to its last report.
struct Trace {
    Trace(JNIEnv* env, jobject listener)
        : env(env), report(env, listener), unreachable(env, listener) {}

    bool ipv6() const { return dest.address.any.sa_family == AF_INET6; }

    JNIEnv* env;
    ListenerMethod report;       // handleHop (handleHop6)
    ListenerMethod unreachable;  // handleUnreachable(6), where the listener has it
    unsigned short id = 0;
    int sendSocket = -1;
    // A UDP send socket, which also receives the answers: the ICMP errors about its probes.
    bool udp = false;
    int probes = 0;  // read once: the hop's answers are kept in a buffer of this many
    int maxTtl = kDefaultHighestHop;
    int datalen = 0;
    int timeout = 0;
    Destination dest;
    Buffer packet;
    Buffer outpacket;
    std::unique_ptr<UnreachableAnswer[]> answers;
    orvela::ScopedFd receiveSocket;
    int seq = 0;  // of the latest probe, counted over the whole trace
};

// One hop: the probes of one time to live, and what their answers said.
struct Hop {
    int ttl = 0;
    SocketAddress lastaddr{};  // of no family until an answer is accepted
    int answered = 0;
    // Each hop measures its own round trip: a hop that got no answer reports -1.0.
    double latency = -1.0;
    int rc = kStatusAnswered;
    bool done = false;
};

// The one report of a trace that could not start: `code` is its status.
int reportSetupFailure(Trace& trace, int code) {
    printVerbose("\nReturning id: %d, seq: %d, dest:0, rc:%d, rt:%d, len:%d, done:1\n", trace.id,
                 trace.seq, code, -1, trace.datalen);
    if (trace.ipv6()) {
        trace.report.call(jint{trace.id}, jint{0}, jbyteArray{nullptr}, jint{code}, jdouble{0.0},
                          jint{trace.datalen}, trace.dest.jdest6, jint{1});
    } else {
        trace.report.call(jint{trace.id}, jint{0}, jint{0}, jint{code}, jdouble{0.0},
                          jint{trace.datalen}, trace.dest.jdest, jint{1});
    }
    return code;
}

// What the trace's receive socket lets through: errors that quote one of its probes, which
// leave from its identifier for `port` + 1, + 2, ... one port per probe.
FilterProgram answerFilter(const Trace& trace) {
    const uint64_t mostProbes = static_cast<uint64_t>(trace.maxTtl) *
                                static_cast<uint64_t>(trace.probes > 0 ? trace.probes : 0);
    return routeTraceFilter(trace.id, static_cast<uint16_t>(port + 1u),
                            static_cast<uint32_t>(std::min<uint64_t>(mostProbes, UINT32_MAX)));
}

// The receive socket: the ICMP datagrams that answer the trace's probes. kStatusAnswered, or the
// status of the set-up failure.
int openReceiveSocket(Trace& trace) {
    const int protocol = icmpProtocol();
    if (protocol < 0) {
        printVerbose("icmp: unknown protocol\n");
        return kStatusNoIcmpProtocol;
    }
    trace.receiveSocket.reset(openRawReceiveSocket(protocol, answerFilter(trace)));
    if (!trace.receiveSocket) {
        printError("traceroute: icmp socket", errno);
        printf("traceroute: icmp socket error.\n");
        return kStatusFailed;
    }
    return kStatusAnswered;
}

// Buffers, the probe's fixed fields and the receive socket. kStatusAnswered, or the status of
// the set-up failure.
int setUp(Trace& trace, int service) {
    trace.packet = allocateBuffer(trace.datalen);
    trace.outpacket = allocateBuffer(trace.datalen);
    trace.answers.reset(new (std::nothrow) UnreachableAnswer[trace.probes > 0 ? trace.probes : 1]);
    if (!trace.packet || !trace.outpacket || !trace.answers) {
        printError("traceroute: malloc", ENOMEM);
        return kStatusNoMemory;
    }
    unsigned char* out = trace.outpacket.get();
    out[0] = kIpVersion4NoOptions;
    out[kIpTypeOfServiceAt] = static_cast<unsigned char>(service >= 0 ? service : 0);
    const int typeOfService = out[kIpTypeOfServiceAt];
    if (trace.ipv6()) {  // the traffic class
        setsockopt(trace.sendSocket, IPPROTO_IPV6, IPV6_TCLASS, &typeOfService,
                   sizeof typeOfService);
        return kStatusAnswered;
    }
    memcpy(out + kIpDestinationAt, &trace.dest.address.v4.sin_addr.s_addr, 4);
    if (!trace.udp) return openReceiveSocket(trace);
    setsockopt(trace.sendSocket, IPPROTO_IP, IP_TOS, &typeOfService, sizeof typeOfService);
    return kStatusAnswered;
}

// What an accepted answer means for the trace.
enum class Meaning {
    Router,       // time exceeded on the way
    Arrived,      // the destination itself answered
    Unreachable,  // no way on: the hop fails (kStatusUnreachable), the trace ends on its last probe
    Passed,       // an unreachable answer that changes nothing more (administrative codes)
};

// An answer accepted for the current probe: what it means, its sender and receive time.
struct Answer {
    Meaning meaning = Meaning::Router;
    int unreachableCode = -1;  // the code handleUnreachable gets; -1 for none
    SocketAddress sender{};
    timeval received{};
};

// Reads a packet_ok verdict (non-zero) into `answer`: -1 time exceeded, else the ICMP
// destination-unreachable code + 1.
void takeVerdict(int verdict, Answer& answer) {
    if (verdict < 0) {
        answer.meaning = Meaning::Router;
        return;
    }
    answer.unreachableCode = verdict - 1;
    switch (answer.unreachableCode) {
        case ICMP_PROT_UNREACH:
        case ICMP_PORT_UNREACH:
            answer.meaning = Meaning::Arrived;
            break;
        case ICMP_NET_UNREACH:
        case ICMP_HOST_UNREACH:
        case ICMP_FRAG_NEEDED:
        case ICMP_SR_FAILED:
            answer.meaning = Meaning::Unreachable;
            break;
        default:  // an administrative code
            answer.meaning = Meaning::Passed;
            break;
    }
}

// The IPv4 verdicts' counterparts for an ICMPv6 error: time exceeded in transit as IPv4's;
// port unreachable is the destination's answer; no route and address unreachable as IPv4's
// network and host unreachable, and packet too big as fragmentation needed; every other
// unreachable code as IPv4's administrative ones. False: not an answer.
bool takeIcmp6Error(uint8_t type, uint8_t code, Answer& answer) {
    if (type == ICMP6_TIME_EXCEEDED) {
        answer.meaning = Meaning::Router;
        return code == ICMP6_TIME_EXCEED_TRANSIT;
    }
    if (type == ICMP6_PACKET_TOO_BIG) {
        answer.meaning = Meaning::Unreachable;
        return true;
    }
    if (type != ICMP6_DST_UNREACH) return false;
    answer.unreachableCode = code;
    switch (code) {
        case ICMP6_DST_UNREACH_NOPORT:
            answer.meaning = Meaning::Arrived;
            break;
        case ICMP6_DST_UNREACH_NOROUTE:
        case ICMP6_DST_UNREACH_ADDR:
            answer.meaning = Meaning::Unreachable;
            break;
        default:
            answer.meaning = Meaning::Passed;
            break;
    }
    return true;
}

// packet_ok for an ICMP (ICMPv6) error queued on the UDP socket: the probe it concerns is known
// by its destination port. False when the error answers nothing.
bool takeQueuedAnswer(const Trace& trace, const QueuedError& error, int cc, Answer& answer) {
    const uint16_t probePort = static_cast<uint16_t>(port + static_cast<unsigned>(trace.seq));
    const uint16_t quotedPort =
        ntohs(trace.ipv6() ? error.quotedTo.v6.sin6_port : error.quotedTo.v4.sin_port);
    if (error.fromIcmp && quotedPort == probePort) {
        if (trace.ipv6() && takeIcmp6Error(error.type, error.code, answer)) return true;
        if (!trace.ipv6() && error.type == ICMP_TIME_EXCEEDED && error.code == ICMP_EXC_TTL) {
            takeVerdict(-1, answer);
            return true;
        }
        if (!trace.ipv6() && error.type == ICMP_DEST_UNREACH) {
            takeVerdict(error.code + 1, answer);
            return true;
        }
    }
    if (verboseOn()) dumpWords(trace.packet.get(), cc, 0, cc, 0);
    return false;
}

// awaitAnswer on the UDP socket. What the destination sends back on the probe's port answers
// nothing, as on the raw path, where it never reaches the ICMP socket.
int awaitQueuedAnswer(Trace& trace, const Deadline& deadline, Answer& answer) {
    for (;;) {
        Delivery delivery;
        const int cc = receiveDeliveryUntil(trace.sendSocket, trace.packet.get(), trace.datalen,
                                            deadline, &delivery);
        if (cc < 0) return cc;
        if (!delivery.queuedError) continue;
        if (!takeQueuedAnswer(trace, delivery.error, cc, answer)) continue;
        answer.sender = delivery.error.offender;
        answer.received = delivery.error.received;
        // Never 0, which stands for an empty receive: an answer that quoted nothing still counts.
        return cc > 0 ? cc : 1;
    }
}

// Waits until `deadline` for an answer to the current probe, dropping everything else. The
// datagram's length (the answer is in `answer` and the trace's packet buffer), or the status
// of the wait: 0 for an empty receive, kStatusTimedOut or -1.
int awaitAnswer(Trace& trace, const Deadline& deadline, Answer& answer) {
    if (trace.udp) return awaitQueuedAnswer(trace, deadline, answer);
    for (;;) {
        sockaddr_in& from = answer.sender.v4;
        const int cc = receiveUntil(trace.receiveSocket.get(), &from, trace.packet.get(),
                                    trace.datalen, deadline, &answer.received);
        if (cc <= 0) return cc;
        const int verdict = packet_ok(trace.id, trace.packet.get(), cc, &from, trace.seq);
        if (verdict == 0) continue;
        takeVerdict(verdict, answer);
        return cc;
    }
}

// Folds an accepted answer into the hop: its sender and round trip, and what an unreachable
// answer says about going on.
void takeAnswer(const Trace& trace, Hop& hop, int probe, const Answer& answer, int cc,
                const timeval& sent) {
    if (!sameHost(answer.sender, hop.lastaddr)) {
        // The UDP socket receives what the answer quoted of the probe, without headers.
        if (verboseOn() && trace.ipv6()) print6(&answer.sender.v6, cc, nullptr);
        if (verboseOn() && !trace.ipv6()) {
            print(trace.udp ? nullptr : trace.packet.get(), cc, &answer.sender.v4);
        }
        hop.lastaddr = answer.sender;
    }
    const double newlatency = deltaT(&sent, &answer.received);
    if (probe == 0 || newlatency > hop.latency) hop.latency = newlatency;
    if (answer.unreachableCode >= 0) {  // one per probe
        trace.answers[hop.answered++] = {trace.seq, answer.sender, answer.unreachableCode};
    }
    switch (answer.meaning) {
        case Meaning::Arrived:
            hop.done = true;
            break;
        case Meaning::Unreachable:
            hop.rc = kStatusUnreachable;
            if (probe == trace.probes - 1) hop.done = true;
            break;
        case Meaning::Router:
        case Meaning::Passed:
            break;
    }
}

// Sends the hop's probe number `probe` and waits for its answer; the probe's status lands in
// hop.rc.
void probeOnce(Trace& trace, Hop& hop, int probe, TryDeadlines& deadlines) {
    const bool lastProbe = probe == trace.probes - 1;
    // The status of this probe alone: an answer after an earlier time-out ends the hop.
    hop.rc = kStatusAnswered;
    ++trace.seq;
    timeval sent{};
    const Deadline deadline = deadlines.next();
    if (trace.udp) {
        sendUdpProbeUntil(trace.sendSocket, trace.id, trace.seq, hop.ttl, trace.dest.address,
                          trace.outpacket.get(), trace.datalen, &sent, deadline);
    } else {
        sendProbeUntil(trace.sendSocket, trace.id, trace.seq, hop.ttl, &trace.dest.address.any,
                       trace.outpacket.get(), trace.datalen, &sent, deadline);
    }
    Answer answer;
    const int cc = awaitAnswer(trace, deadline, answer);
    if (cc > 0) {
        takeAnswer(trace, hop, probe, answer, cc, sent);
    } else {
        hop.rc = cc == 0 ? kStatusEmptyReceive : cc;
        if (lastProbe) hop.done = true;
    }
    if (verboseOn()) fflush(stdout);
}

// An IPv4 address as the listener gets it: first octet in the most significant byte; 0 for
// none.
jint addressInteger(const SocketAddress& address) {
    if (address.any.sa_family != AF_INET) return 0;
    return static_cast<jint>(ntohl(address.v4.sin_addr.s_addr));
}

// An IPv6 address as the listener gets it: a new local reference, null for none. False when
// the array could not be made (OutOfMemoryError pending).
bool addressArray(const Trace& trace, const SocketAddress& address, jbyteArray* array) {
    *array = nullptr;
    if (trace.env == nullptr || address.any.sa_family != AF_INET6) return true;
    *array = newIpv6Address(trace.env, address.v6.sin6_addr);
    return *array != nullptr;
}

// handleUnreachable(6) of one answer. False when the listener threw.
bool reportUnreachable(Trace& trace, const UnreachableAnswer& answer) {
    if (!trace.ipv6()) {
        return trace.unreachable.call(jint{trace.id}, jint{answer.seq},
                                      addressInteger(answer.address), jint{answer.code});
    }
    jbyteArray made;
    if (!addressArray(trace, answer.address, &made)) return false;
    const orvela::ScopedLocalRef<jbyteArray> address(trace.env, made);
    return trace.unreachable.call(jint{trace.id}, jint{answer.seq}, address.get(),
                                  jint{answer.code});
}

// The hop's unreachable answers, then the hop itself. False when the listener threw.
bool reportHop(Trace& trace, const Hop& hop) {
    const jint address = addressInteger(hop.lastaddr);
    printVerbose("\nReturning id: %d, seq: %d, dest:%d, rc:%d, rt:%g, len:%d, done:%d\n", trace.id,
                 trace.seq, address, hop.rc, hop.latency, trace.datalen, hop.done ? 1 : 0);
    for (int a = 0; a < hop.answered; ++a) {
        if (!reportUnreachable(trace, trace.answers[a])) return false;
    }
    if (!trace.ipv6()) {
        return trace.report.call(jint{trace.id}, jint{trace.seq}, address, jint{hop.rc},
                                 jdouble{hop.latency}, jint{trace.datalen}, trace.dest.jdest,
                                 jint{hop.done ? 1 : 0});
    }
    jbyteArray made;
    if (!addressArray(trace, hop.lastaddr, &made)) return false;
    const orvela::ScopedLocalRef<jbyteArray> address6(trace.env, made);
    return trace.report.call(jint{trace.id}, jint{trace.seq}, address6.get(), jint{hop.rc},
                             jdouble{hop.latency}, jint{trace.datalen}, trace.dest.jdest6,
                             jint{hop.done ? 1 : 0});
}

// Probes one hop until a probe is answered or the hop's probes are spent.
Hop runHop(Trace& trace, int ttl) {
    Hop hop;
    hop.ttl = ttl;
    TryDeadlines deadlines(trace.timeout);
    for (int probe = 0; !hop.done && probe < trace.probes; ++probe) {
        probeOnce(trace, hop, probe, deadlines);
        if (hop.rc == kStatusAnswered) break;
    }
    if (ttl == trace.maxTtl) hop.done = true;
    return hop;
}

// start_trace, with probes sent from a UDP socket when `udp` is set (always over IPv6).
int runTrace(int sock, bool udp, unsigned short id, const Destination& dest, unsigned short top_ttl,
             int datalength, int service, int timeout, JNIEnv* env, jobject listener) {
    Trace trace(env, listener);
    trace.dest = dest;
    if (trace.ipv6()) {
        if (!trace.report.bind("handleHop6", "(II[BIDI[BI)V")) return kStatusFailed;
        trace.unreachable.bindOptional("handleUnreachable6", "(II[BI)V");
    } else {
        if (!trace.report.bind("handleHop", "(IIIIDIII)V")) return kStatusFailed;
        trace.unreachable.bindOptional("handleUnreachable", "(IIII)V");
    }
    trace.id = id;
    trace.sendSocket = sock;
    trace.udp = udp;
    trace.probes = nprobes;
    if (top_ttl > 1) trace.maxTtl = top_ttl;
    trace.datalen = limitLength(datalength);
    trace.timeout = timeout;

    // Without a send socket no probe can leave: say so at once rather than time out.
    if (sock < 0) return reportSetupFailure(trace, sock);
    const int setUpStatus = setUp(trace, service);
    if (setUpStatus != kStatusAnswered) return reportSetupFailure(trace, setUpStatus);

    int rc = kStatusAnswered;
    for (int ttl = 1; ttl <= trace.maxTtl; ++ttl) {
        const Hop hop = runHop(trace, ttl);
        rc = hop.rc;
        if (!reportHop(trace, hop) || hop.done) break;
    }
    return rc;
}

// An IPv4 destination given as an address integer.
Destination ipv4Destination(long dest) {
    Destination d;
    d.address.v4.sin_family = AF_INET;
    d.address.v4.sin_addr.s_addr = htonl(static_cast<uint32_t>(dest));
    d.jdest = static_cast<jint>(static_cast<uint32_t>(dest));
    return d;
}

}  // namespace

int traceRoute6(unsigned short id, const in6_addr& dest, jbyteArray jdest, unsigned short top_ttl,
                int datalength, int service, int timeout, JNIEnv* env, jobject listener) {
    Destination destination;
    destination.address.v6.sin6_family = AF_INET6;
    destination.address.v6.sin6_addr = dest;
    destination.jdest6 = jdest;
    // Every user's probes leave from a UDP socket; its failure is the trace's only report.
    orvela::ScopedFd udp(openUdpProbeSocket6());
    const int sock = udp ? udp.get() : kStatusNoRawSocket;
    if (!udp) printError("traceroute: udp socket", errno);
    return runTrace(sock, true, id, destination, top_ttl, datalength, service, timeout, env,
                    listener);
}

int traceRoute(unsigned short id, long dest, unsigned short top_ttl, int datalength, int service,
               int timeout, JNIEnv* env, jobject listener) {
    const RawSendSocket opened = openRawSendSocket(limitLength(datalength));
    if (opened.failedStep == SendSocketStep::Socket && refusedForPrivilege(opened.err)) {
        // Without the privilege: UDP probes, which any process may send.
        orvela::ScopedFd udp(openUdpProbeSocket());
        if (udp) {
            return runTrace(udp.get(), true, id, ipv4Destination(dest), top_ttl, datalength,
                            service, timeout, env, listener);
        }
    }
    orvela::ScopedFd sendSocket(opened.fd);
    int sock = opened.fd;
    // A failed open leaves a negative status in place of the descriptor: start_trace reports it.
    switch (opened.failedStep) {
        case SendSocketStep::Socket:
            printError("traceroute: raw socket", opened.err);
            sock = kStatusNoRawSocket;
            break;
        case SendSocketStep::SendBuffer:
            printError("traceroute: SO_SNDBUF", opened.err);
            sock = kStatusSocketOptionFailed;
            break;
        case SendSocketStep::HeaderIncluded:
            printError("traceroute: IP_HDRINCL", opened.err);
            sock = kStatusSocketOptionFailed;
            break;
        case SendSocketStep::Done:
            break;
    }
    return start_trace(sock, id, dest, top_ttl, datalength, service, timeout, env, listener);
}

}  // namespace orvela::icmp

using namespace orvela::icmp;

extern "C" {

double deltaT(const struct timeval* t1p, const struct timeval* t2p) {
    const long seconds = static_cast<long>(t2p->tv_sec - t1p->tv_sec);
    const long micros = static_cast<long>(t2p->tv_usec - t1p->tv_usec);
    return static_cast<double>(seconds) * 1000.0 + static_cast<double>(micros) / 1000.0;
}

int wait_for_reply(int sock, struct sockaddr_in* from, unsigned char* packet, int datalen,
                   int timeout) {
    return receiveUntil(sock, from, packet, datalen, probeDeadline(timeout));
}

void send_probe(int sock, int id, int seq, int ttl, const struct sockaddr* whereto,
                unsigned char* outpacket, int datalen, struct timeval* sent_tv) {
    sendProbeUntil(sock, id, seq, ttl, whereto, outpacket, datalen, sent_tv, probeDeadline(0));
}

int packet_ok(int id, const unsigned char* buf, int cc, const struct sockaddr_in* from, int seq) {
    const int hlen = ipHeaderLength(buf, cc);
    if (buf == nullptr || hlen < kIpMinHeaderLength || cc < hlen + kIcmpHeaderLength) {
        printVerbose("packet too short (%d bytes) from %s\n", cc, dotted(from));
        return 0;
    }
    const unsigned char* icp = buf + hlen;
    const int icmplen = cc - hlen;
    const int type = icp[kIcmpTypeAt];
    const int code = icp[kIcmpCodeAt];
    if ((type == ICMP_TIME_EXCEEDED && code == ICMP_EXC_TTL) || type == ICMP_DEST_UNREACH) {
        // The quoted datagram: its IPv4 header, then the first bytes of the probe's UDP header.
        const unsigned char* quoted = icp + kIcmpHeaderLength;
        const int qhlen = ipHeaderLength(quoted, icmplen - kIcmpHeaderLength);
        if (qhlen >= kIpMinHeaderLength && kIcmpHeaderLength + qhlen + kUdpPortsLength <= icmplen) {
            const unsigned char* qudp = quoted + qhlen;
            if (quoted[kIpProtocolAt] == IPPROTO_UDP &&
                read16(qudp + kUdpSourcePortAt) == static_cast<uint16_t>(id) &&
                read16(qudp + kUdpDestinationPortAt) ==
                    static_cast<uint16_t>(port + static_cast<unsigned>(seq))) {
                return type == ICMP_TIME_EXCEEDED ? -1 : code + 1;
            }
        }
    }
    if (verboseOn()) dumpWords(icp, icmplen, 4, icmplen, 4);
    return 0;
}

int start_trace(int sock, unsigned short id, long dest, unsigned short top_ttl, int datalength,
                int service, int timeout, JNIEnv* env, jobject listener) {
    return runTrace(sock, false, id, ipv4Destination(dest), top_ttl, datalength, service, timeout,
                    env, listener);
}

}  // extern "C"
