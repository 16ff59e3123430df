// Each trace owns its sockets and buffers; nothing is thrown to Java, every outcome reaches the
// listener as a status code.

#include "core/icmp/RouteTrace.h"

#include <arpa/inet.h>
#include <sys/time.h>

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

namespace orvela::icmp {
namespace {

// The probe: IPv4 header, UDP header, then its sequence and time to live bytes, an alignment
// gap and a time value.
constexpr size_t kProbeSeqAt = kIpMinHeaderLength + kUdpHeaderLength;
constexpr size_t kProbeTtlAt = kProbeSeqAt + 1;
constexpr int kProbeLayoutLength = 40;
// The highest hop when the caller asks for 0 or 1.
constexpr int kDefaultHighestHop = 25;

// send_probe, giving up on the send at the probe's deadline.
void sendProbeUntil(int sock, int id, int seq, int ttl, const struct sockaddr* whereto,
                    unsigned char* outpacket, int datalen, struct timeval* sent_tv,
                    Clock::time_point deadline) {
    timeval sent{};
    if (outpacket == nullptr || datalen < kProbeLayoutLength) {
        if (sent_tv != nullptr) *sent_tv = sent;
        return;
    }
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

    gettimeofday(&sent, nullptr);
    if (sent_tv != nullptr) *sent_tv = sent;
    const int cc = sendUntil(sock, outpacket, datalen, whereto, sizeof(sockaddr_in), deadline);
    if (cc < 0 || cc != datalen) {
        if (verbose) {
            printf("send_probe:: wrote %d chars, ret=%d\n", datalen, cc);
            fflush(stdout);
        }
    }
}

}  // namespace

int openTraceSendSocket(int datalength) {
    const RawSendSocket opened = openRawSendSocket(limitLength(datalength));
    switch (opened.failedStep) {
        case SendSocketStep::Socket:
            printError("traceroute: raw socket", opened.err);
            return kStatusNoRawSocket;
        case SendSocketStep::SendBuffer:
            printError("traceroute: SO_SNDBUF", opened.err);
            return kStatusSocketOptionFailed;
        case SendSocketStep::HeaderIncluded:
            printError("traceroute: IP_HDRINCL", opened.err);
            return kStatusSocketOptionFailed;
        case SendSocketStep::Done:
            break;
    }
    return opened.fd;
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
    int max_ttl = kDefaultHighestHop;
    int tos = 0;
    int rc = kStatusAnswered;
    double latency = -1.0;
    int done = 0;

    ListenerMethod report(env, listener);
    if (!report.bind("handleHop", "(IIIIDIII)V")) return kStatusFailed;
    ListenerMethod unreachable(env, listener);
    unreachable.bindOptional("handleUnreachable", "(IIII)V");
    // Read once: the hop's answers are kept in a buffer of this many.
    const int probes = nprobes;

    if (top_ttl > 1) max_ttl = top_ttl;
    const int datalen = limitLength(datalength);
    if (service >= 0) tos = service;
    int seq = 0;
    sockaddr_in whereto{};
    whereto.sin_family = AF_INET;
    whereto.sin_addr.s_addr = htonl(static_cast<uint32_t>(dest));
    const jint jdest = static_cast<jint>(static_cast<uint32_t>(dest));

    auto setupFailure = [&](int code) {
        rc = code;
        if (verbose) {
            printf("\nReturning id: %d, seq: %d, dest:0, rc:%d, rt:%d, len:%d, done:1\n", id, seq,
                   rc, static_cast<int>(latency), datalen);
            fflush(stdout);
        }
        report.call(jint{id}, jint{0}, jint{0}, jint{rc}, jdouble{0.0}, jint{datalen}, jdest,
                    jint{1});
        return rc;
    };

    // Without a send socket no probe can leave: say so at once rather than time out.
    if (sock < 0) return setupFailure(sock);

    Buffer packet = allocateBuffer(datalen);
    Buffer outpacket = allocateBuffer(datalen);
    // The hop's destination-unreachable answers, reported just before the hop.
    struct UnreachableAnswer {
        int seq;
        uint32_t address;
        int code;
    };
    std::unique_ptr<UnreachableAnswer[]> answers(new (std::nothrow)
                                                     UnreachableAnswer[probes > 0 ? probes : 1]);
    if (!packet || !outpacket || !answers) {
        printError("traceroute: malloc", ENOMEM);
        return setupFailure(kStatusNoMemory);
    }
    outpacket[0] = kIpVersion4NoOptions;
    outpacket[kIpTypeOfServiceAt] = static_cast<unsigned char>(tos);
    memcpy(outpacket.get() + kIpDestinationAt, &whereto.sin_addr.s_addr, 4);

    const int protocol = icmpProtocol();
    if (protocol < 0) {
        if (verbose) printf("icmp: unknown protocol\n");
        return setupFailure(kStatusNoIcmpProtocol);
    }
    orvela::ScopedFd s(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, protocol));
    if (!s) {
        printError("traceroute: icmp socket", errno);
        printf("traceroute: icmp socket error.\n");
        return setupFailure(kStatusFailed);
    }

    for (int ttl = 1; !done && ttl <= max_ttl; ++ttl) {
        uint32_t lastaddr = 0;
        int answered = 0;
        TrySlots slots(timeout);
        // Each hop measures its own round trip: a hop that got no answer reports -1.0.
        latency = -1.0;
        for (int probe = 0; !done && probe < probes; ++probe) {
            const bool lastProbe = probe == probes - 1;
            // The status of this probe alone: an answer after an earlier time-out ends the hop.
            rc = kStatusAnswered;
            ++seq;
            timeval sent_tv{};
            const Clock::time_point deadline = slots.next();
            sendProbeUntil(sock, id, seq, ttl, reinterpret_cast<const sockaddr*>(&whereto),
                           outpacket.get(), datalen, &sent_tv, deadline);
            sockaddr_in from{};
            int cc = waitUntil(s.get(), &from, packet.get(), datalen, deadline);
            while (cc > 0) {
                timeval t2{};
                gettimeofday(&t2, nullptr);
                const int i = packet_ok(id, packet.get(), cc, &from, seq);
                if (i == 0) {
                    cc = waitUntil(s.get(), &from, packet.get(), datalen, deadline);
                    continue;
                }
                const uint32_t sender = ntohl(from.sin_addr.s_addr);
                if (sender != lastaddr) {
                    if (verbose) print(packet.get(), cc, &from);
                    lastaddr = sender;
                }
                const double newlatency = deltaT(&sent_tv, &t2);
                if (probe == 0 || newlatency > latency) latency = newlatency;
                if (i > 0) {
                    const int unreachableCode = i - 1;
                    answers[answered++] = {seq, sender, unreachableCode};  // one per probe
                    switch (unreachableCode) {
                        case ICMP_PROT_UNREACH:
                        case ICMP_PORT_UNREACH:  // the destination itself answered
                            done = 1;
                            break;
                        case ICMP_NET_UNREACH:
                        case ICMP_HOST_UNREACH:
                        case ICMP_FRAG_NEEDED:
                        case ICMP_SR_FAILED:
                            rc = kStatusUnreachable;
                            if (lastProbe) done = 1;
                            break;
                        default:  // an administrative code
                            break;
                    }
                }
                break;
            }
            if (cc == 0) {
                rc = kStatusEmptyReceive;
                if (lastProbe) done = 1;
            } else if (cc < 0) {
                rc = cc;
                if (lastProbe) done = 1;
            }
            if (verbose) fflush(stdout);
            if (rc == kStatusAnswered) break;
        }
        if (ttl == max_ttl) done = 1;
        const jint address = static_cast<jint>(lastaddr);
        if (verbose) {
            printf("\nReturning id: %d, seq: %d, dest:%d, rc:%d, rt:%g, len:%d, done:%d\n", id, seq,
                   address, rc, latency, datalen, done);
            fflush(stdout);
        }
        bool reported = true;
        for (int a = 0; reported && a < answered; ++a) {
            reported =
                unreachable.call(jint{id}, jint{answers[a].seq},
                                 static_cast<jint>(answers[a].address), jint{answers[a].code});
        }
        if (!reported || !report.call(jint{id}, jint{seq}, address, jint{rc}, jdouble{latency},
                                      jint{datalen}, jdest, jint{done})) {
            break;
        }
    }
    return rc;
}

}  // extern "C"
