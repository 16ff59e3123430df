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
#include "core/icmp/IcmpLayout.h"
#include "core/icmp/IcmpSockets.h"
#include "core/icmp/ListenerMethod.h"
#include "core/icmp/ProbeBuffer.h"
#include "core/icmp/ProbeSettings.h"
#include "core/icmp/ProbeStatus.h"
#include "core/icmp/ProbeText.h"
#include "core/icmp/ProbeWait.h"
#include "core/icmp/QueuedError.h"

namespace orvela::icmp {
namespace {

// The probe: IPv4 header, UDP header, then its sequence and time to live bytes, an alignment
// gap and a time value.
constexpr size_t kProbeSeqAt = kIpMinHeaderLength + kUdpHeaderLength;
constexpr size_t kProbeTtlAt = kProbeSeqAt + 1;
constexpr int kProbeLayoutLength = 40;
// The highest hop when the caller asks for 0 or 1.
constexpr int kDefaultHighestHop = 25;

// Fills in the probe of `seq` at time to live `ttl`: the IPv4 header's variable fields, the UDP
// header, and the probe's sequence and time to live bytes. False when there is no room for it.
bool buildProbe(int id, int seq, int ttl, unsigned char* outpacket, int datalen) {
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

    if (verbose) {
        printf("send_probe:: IP Version is %d \n", 4);
        printf("send_probe:: Sending probe length %d ttl %d\n", datalen, ttl);
        printf("send_probe:: destination port is %d \n", static_cast<int>(destinationPort));
        printf("send_probe:: source port is %d \n", static_cast<int>(sourcePort));
        printf("send_probe:: id is \n");
        printf("\ncontents of probe follows:\n");
        dumpWords(outpacket, datalen, 0, datalen, 0);
    }
    return true;
}

void printShortSend(int datalen, int cc) {
    if (cc >= 0 && cc == datalen) return;
    if (verbose) {
        printf("send_probe:: wrote %d chars, ret=%d\n", datalen, cc);
        fflush(stdout);
    }
}

// send_probe, giving up on the send at the probe's deadline.
void sendProbeUntil(int sock, int id, int seq, int ttl, const struct sockaddr* whereto,
                    unsigned char* outpacket, int datalen, struct timeval* sent_tv,
                    Clock::time_point deadline) {
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

// The same probe from a UDP socket, which needs no privilege: the system writes the headers,
// with the socket's time to live and a source port of its choosing, so only the probe's data
// is sent, to the probe's port.
void sendUdpProbeUntil(int sock, int id, int seq, int ttl, const sockaddr_in& whereto,
                       unsigned char* outpacket, int datalen, struct timeval* sent_tv,
                       Clock::time_point deadline) {
    *sent_tv = timeval{};
    if (!buildProbe(id, seq, ttl, outpacket, datalen)) return;
    // The system takes 1 to 255; the raw probe carries the low 8 bits, where 0 ends at hop 1.
    const int timeToLive = std::max(ttl & 0xFF, 1);
    setsockopt(sock, IPPROTO_IP, IP_TTL, &timeToLive, sizeof timeToLive);
    // An ICMP error about an earlier probe leaves a socket error that would fail this send.
    takePendingError(sock);
    sockaddr_in to = whereto;
    to.sin_port = htons(static_cast<uint16_t>(port + static_cast<unsigned>(seq)));
    constexpr int kHeaders = kIpMinHeaderLength + kUdpHeaderLength;
    gettimeofday(sent_tv, nullptr);
    const int cc = sendUntil(sock, outpacket + kHeaders, datalen - kHeaders,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to, deadline);
    printShortSend(datalen, cc < 0 ? cc : cc + kHeaders);
}

// A destination-unreachable answer of a hop, reported just before the hop.
struct UnreachableAnswer {
    int seq;
    uint32_t address;
    int code;
};

// What one start_trace call holds from its set-up to its last report.
struct Trace {
    Trace(JNIEnv* env, jobject listener) : report(env, listener), unreachable(env, listener) {}

    ListenerMethod report;       // handleHop
    ListenerMethod unreachable;  // handleUnreachable, where the listener has it
    unsigned short id = 0;
    int sendSocket = -1;
    // A UDP send socket, which also receives the answers: the ICMP errors about its probes.
    bool udp = false;
    int probes = 0;  // read once: the hop's answers are kept in a buffer of this many
    int maxTtl = kDefaultHighestHop;
    int datalen = 0;
    int timeout = 0;
    sockaddr_in whereto{};
    jint jdest = 0;
    Buffer packet;
    Buffer outpacket;
    std::unique_ptr<UnreachableAnswer[]> answers;
    orvela::ScopedFd receiveSocket;
    int seq = 0;  // of the latest probe, counted over the whole trace
};

// One hop: the probes of one time to live, and what their answers said.
struct Hop {
    int ttl = 0;
    uint32_t lastaddr = 0;
    int answered = 0;
    // Each hop measures its own round trip: a hop that got no answer reports -1.0.
    double latency = -1.0;
    int rc = kStatusAnswered;
    bool done = false;
};

// The one report of a trace that could not start: `code` is its status.
int reportSetupFailure(Trace& trace, int code) {
    if (verbose) {
        printf("\nReturning id: %d, seq: %d, dest:0, rc:%d, rt:%d, len:%d, done:1\n", trace.id,
               trace.seq, code, -1, trace.datalen);
        fflush(stdout);
    }
    trace.report.call(jint{trace.id}, jint{0}, jint{0}, jint{code}, jdouble{0.0},
                      jint{trace.datalen}, trace.jdest, jint{1});
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
        if (verbose) printf("icmp: unknown protocol\n");
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
    memcpy(out + kIpDestinationAt, &trace.whereto.sin_addr.s_addr, 4);
    if (!trace.udp) return openReceiveSocket(trace);
    const int typeOfService = out[kIpTypeOfServiceAt];
    setsockopt(trace.sendSocket, IPPROTO_IP, IP_TOS, &typeOfService, sizeof typeOfService);
    return kStatusAnswered;
}

// An answer that packet_ok accepted for the current probe: its verdict (non-zero), sender and
// receive time.
struct Answer {
    int verdict = 0;
    uint32_t sender = 0;
    timeval received{};
};

// packet_ok for an ICMP error queued on the UDP socket: the probe it concerns is known by its
// destination port.
int queuedAnswerVerdict(const Trace& trace, const QueuedError& error, int cc) {
    const uint16_t probePort = static_cast<uint16_t>(port + static_cast<unsigned>(trace.seq));
    if (error.fromIcmp && ntohs(error.quotedTo.sin_port) == probePort) {
        if (error.type == ICMP_TIME_EXCEEDED && error.code == ICMP_EXC_TTL) return -1;
        if (error.type == ICMP_DEST_UNREACH) return error.code + 1;
    }
    if (verbose) dumpWords(trace.packet.get(), cc, 0, cc, 0);
    return 0;
}

// awaitAnswer on the UDP socket. What the destination sends back on the probe's port answers
// nothing, as on the raw path, where it never reaches the ICMP socket.
int awaitQueuedAnswer(Trace& trace, Clock::time_point deadline, Answer& answer, sockaddr_in& from) {
    for (;;) {
        Delivery delivery;
        const int cc = waitDeliveryUntil(trace.sendSocket, trace.packet.get(), trace.datalen,
                                         deadline, &delivery);
        if (cc < 0) return cc;
        if (!delivery.queuedError) continue;
        answer.verdict = queuedAnswerVerdict(trace, delivery.error, cc);
        if (answer.verdict == 0) continue;
        from = delivery.error.offender;
        answer.sender = ntohl(from.sin_addr.s_addr);
        answer.received = delivery.error.received;
        // Never 0, which stands for an empty receive: an answer that quoted nothing still counts.
        return cc > 0 ? cc : 1;
    }
}

// Waits until `deadline` for an answer to the current probe, dropping everything else. The
// datagram's length (the answer is in `answer` and the trace's packet buffer), or the status
// of the wait: 0 for an empty receive, kStatusTimedOut or -1.
int awaitAnswer(Trace& trace, Clock::time_point deadline, Answer& answer, sockaddr_in& from) {
    if (trace.udp) return awaitQueuedAnswer(trace, deadline, answer, from);
    for (;;) {
        const int cc = waitUntil(trace.receiveSocket.get(), &from, trace.packet.get(),
                                 trace.datalen, deadline, &answer.received);
        if (cc <= 0) return cc;
        answer.verdict = packet_ok(trace.id, trace.packet.get(), cc, &from, trace.seq);
        if (answer.verdict == 0) continue;
        answer.sender = ntohl(from.sin_addr.s_addr);
        return cc;
    }
}

// Folds an accepted answer into the hop: its sender and round trip, and what an unreachable
// answer says about going on.
void takeAnswer(const Trace& trace, Hop& hop, int probe, const Answer& answer, int cc,
                const sockaddr_in& from, const timeval& sent) {
    if (answer.sender != hop.lastaddr) {
        // The UDP socket receives what the answer quoted of the probe, without headers.
        if (verbose) print(trace.udp ? nullptr : trace.packet.get(), cc, &from);
        hop.lastaddr = answer.sender;
    }
    const double newlatency = deltaT(&sent, &answer.received);
    if (probe == 0 || newlatency > hop.latency) hop.latency = newlatency;
    if (answer.verdict < 0) return;  // time exceeded: a router on the way
    const bool lastProbe = probe == trace.probes - 1;
    const int unreachableCode = answer.verdict - 1;
    trace.answers[hop.answered++] = {trace.seq, answer.sender, unreachableCode};  // one per probe
    switch (unreachableCode) {
        case ICMP_PROT_UNREACH:
        case ICMP_PORT_UNREACH:  // the destination itself answered
            hop.done = true;
            break;
        case ICMP_NET_UNREACH:
        case ICMP_HOST_UNREACH:
        case ICMP_FRAG_NEEDED:
        case ICMP_SR_FAILED:
            hop.rc = kStatusUnreachable;
            if (lastProbe) hop.done = true;
            break;
        default:  // an administrative code
            break;
    }
}

// Sends the hop's probe number `probe` and waits for its answer; the probe's status lands in
// hop.rc.
void probeOnce(Trace& trace, Hop& hop, int probe, TrySlots& slots) {
    const bool lastProbe = probe == trace.probes - 1;
    // The status of this probe alone: an answer after an earlier time-out ends the hop.
    hop.rc = kStatusAnswered;
    ++trace.seq;
    timeval sent{};
    const Clock::time_point deadline = slots.next();
    if (trace.udp) {
        sendUdpProbeUntil(trace.sendSocket, trace.id, trace.seq, hop.ttl, trace.whereto,
                          trace.outpacket.get(), trace.datalen, &sent, deadline);
    } else {
        sendProbeUntil(trace.sendSocket, trace.id, trace.seq, hop.ttl,
                       reinterpret_cast<const sockaddr*>(&trace.whereto), trace.outpacket.get(),
                       trace.datalen, &sent, deadline);
    }
    Answer answer;
    sockaddr_in from{};
    const int cc = awaitAnswer(trace, deadline, answer, from);
    if (cc > 0) {
        takeAnswer(trace, hop, probe, answer, cc, from, sent);
    } else {
        hop.rc = cc == 0 ? kStatusEmptyReceive : cc;
        if (lastProbe) hop.done = true;
    }
    if (verbose) fflush(stdout);
}

// The hop's unreachable answers, then the hop itself. False when the listener threw.
bool reportHop(Trace& trace, const Hop& hop) {
    const jint address = static_cast<jint>(hop.lastaddr);
    if (verbose) {
        printf("\nReturning id: %d, seq: %d, dest:%d, rc:%d, rt:%g, len:%d, done:%d\n", trace.id,
               trace.seq, address, hop.rc, hop.latency, trace.datalen, hop.done ? 1 : 0);
        fflush(stdout);
    }
    for (int a = 0; a < hop.answered; ++a) {
        const UnreachableAnswer& answer = trace.answers[a];
        if (!trace.unreachable.call(jint{trace.id}, jint{answer.seq},
                                    static_cast<jint>(answer.address), jint{answer.code})) {
            return false;
        }
    }
    return trace.report.call(jint{trace.id}, jint{trace.seq}, address, jint{hop.rc},
                             jdouble{hop.latency}, jint{trace.datalen}, trace.jdest,
                             jint{hop.done ? 1 : 0});
}

// Probes one hop until a probe is answered or the hop's probes are spent.
Hop runHop(Trace& trace, int ttl) {
    Hop hop;
    hop.ttl = ttl;
    TrySlots slots(trace.timeout);
    for (int probe = 0; !hop.done && probe < trace.probes; ++probe) {
        probeOnce(trace, hop, probe, slots);
        if (hop.rc == kStatusAnswered) break;
    }
    if (ttl == trace.maxTtl) hop.done = true;
    return hop;
}

// start_trace, with probes sent from a UDP socket when `udp` is set.
int runTrace(int sock, bool udp, unsigned short id, long dest, unsigned short top_ttl,
             int datalength, int service, int timeout, JNIEnv* env, jobject listener) {
    Trace trace(env, listener);
    if (!trace.report.bind("handleHop", "(IIIIDIII)V")) return kStatusFailed;
    trace.unreachable.bindOptional("handleUnreachable", "(IIII)V");
    trace.id = id;
    trace.sendSocket = sock;
    trace.udp = udp;
    trace.probes = nprobes;
    if (top_ttl > 1) trace.maxTtl = top_ttl;
    trace.datalen = limitLength(datalength);
    trace.timeout = timeout;
    trace.whereto.sin_family = AF_INET;
    trace.whereto.sin_addr.s_addr = htonl(static_cast<uint32_t>(dest));
    trace.jdest = static_cast<jint>(static_cast<uint32_t>(dest));

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

}  // namespace

int traceRoute(unsigned short id, long dest, unsigned short top_ttl, int datalength, int service,
               int timeout, JNIEnv* env, jobject listener) {
    const RawSendSocket opened = openRawSendSocket(limitLength(datalength));
    if (opened.failedStep == SendSocketStep::Socket && refusedForPrivilege(opened.err)) {
        // Without the privilege: UDP probes, which any process may send.
        orvela::ScopedFd udp(openUdpProbeSocket());
        if (udp) {
            return runTrace(udp.get(), true, id, dest, top_ttl, datalength, service, timeout, env,
                            listener);
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
    return waitUntil(sock, from, packet, datalen, deadlineAfter(timeout));
}

void send_probe(int sock, int id, int seq, int ttl, const struct sockaddr* whereto,
                unsigned char* outpacket, int datalen, struct timeval* sent_tv) {
    sendProbeUntil(sock, id, seq, ttl, whereto, outpacket, datalen, sent_tv, deadlineAfter(0));
}

int packet_ok(int id, const unsigned char* buf, int cc, const struct sockaddr_in* from, int seq) {
    const int hlen = ipHeaderLength(buf, cc);
    if (buf == nullptr || hlen < kIpMinHeaderLength || cc < hlen + kIcmpHeaderLength) {
        if (verbose) printf("packet too short (%d bytes) from %s\n", cc, dotted(from));
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
    if (verbose) dumpWords(icp, icmplen, 4, icmplen, 4);
    return 0;
}

int start_trace(int sock, unsigned short id, long dest, unsigned short top_ttl, int datalength,
                int service, int timeout, JNIEnv* env, jobject listener) {
    return runTrace(sock, false, id, dest, top_ttl, datalength, service, timeout, env, listener);
}

}  // extern "C"
