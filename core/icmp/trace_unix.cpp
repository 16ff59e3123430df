// Route trace (UDP probes of rising time to live, matched to the ICMP answers they provoke),
// latency probe (one self-built IPv4 + ICMP echo datagram per try) and the text helpers of
// their diagnostics. Each call owns its sockets and buffers; nothing is thrown to Java, every
// outcome reaches the listener as a status code.

#include "core/icmp/trace_unix.h"

#include "binding/ScopedFd.h"
#include "core/icmp/ping_unix.h"

#include <arpa/inet.h>
#include <errno.h>
#include <jni.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <new>

extern "C" {
int nprobes = 3;
unsigned short port = 33434;
int verbose = 0;
}

namespace {

constexpr int kDefaultTimeoutMs = 5000;
constexpr int kMinPacket = 64;
constexpr int kMaxPacket = 1024;
constexpr int kIpHeaderLength = 20;
constexpr int kIcmpHeaderLength = 8;
// The trace probe: IPv4 header, UDP header, seq and ttl bytes, alignment gap, time value.
constexpr int kProbeLayoutLength = 40;
// The echo request carries its send time at bytes 48 to 55.
constexpr int kEchoLayoutLength = 56;
constexpr int kEchoTimeOffset = 48;
// Latency time stamps count milliseconds from 2001-02-06 22:53:20 UTC.
constexpr long long kTimeStampEpoch = 981500000LL;

constexpr int kTimedOut = -12;

// Trace status codes that are not plain results of a wait.
constexpr int kRcEmptyReceive = -4;
constexpr int kRcUnreachable = -6;
constexpr int kRcNoBuffer = -11;
constexpr int kRcNoIcmpEntry = -13;
constexpr int kRcSocket = -1;

using orvela::ScopedFd;

using Buffer = std::unique_ptr<unsigned char[]>;

// Zero-filled, or null when the allocation failed.
Buffer allocateBuffer(int size) {
    return Buffer(new (std::nothrow) unsigned char[size]());
}

int limitLength(int requested) {
    if (requested > kMaxPacket) return kMaxPacket;
    if (requested < kMinPacket) return kMinPacket;
    return requested;
}

void put16(unsigned char* at, unsigned value) {
    at[0] = static_cast<unsigned char>(value >> 8);
    at[1] = static_cast<unsigned char>(value);
}

unsigned get16(const unsigned char* at) {
    return (unsigned{at[0]} << 8) | at[1];
}

// The checksum field never carries 0: 0xFFFF stands for it.
unsigned nonZeroChecksum(unsigned short sum) {
    return sum == 0 ? 0xFFFF : sum;
}

const char* dotted(const sockaddr_in* address) {
    in_addr none{};
    return inet_ntoa(address != nullptr ? address->sin_addr : none);
}

// One "%2d: x%8.8lx" line per 32-bit word, labels from `firstLabel` below `labelEnd`; the word
// for a label starts `labelToOffset` bytes after it. A word that reaches past `available` bytes
// is shown zero-padded, and the dump stops at the first word that starts past them.
void dumpWords(const unsigned char* data, int available, int firstLabel, int labelEnd,
               int labelToOffset) {
    for (int label = firstLabel; label < labelEnd; label += 4) {
        const int offset = label + labelToOffset;
        if (offset >= available) break;
        uint32_t word = 0;
        memcpy(&word, data + offset, available - offset < 4 ? available - offset : 4);
        printf("%2d: x%8.8lx\n", label, static_cast<unsigned long>(word));
    }
}

using Clock = std::chrono::steady_clock;

Clock::duration waitFor(int timeout) {
    return std::chrono::milliseconds(timeout > 0 ? timeout : kDefaultTimeoutMs);
}

Clock::time_point deadlineAfter(int timeout) {
    return Clock::now() + waitFor(timeout);
}

// The deadlines of a series of tries (the probes of a hop, the tries of a latency probe): each
// try gets the time-out from its start, but not past the end of its own slot, the slots
// following one another from the first try on. Late wake-ups on a busy host so don't add up.
class TrySlots {
  public:
    explicit TrySlots(int timeout) : slot_(waitFor(timeout)), end_(Clock::now()) {}

    Clock::time_point next() {
        end_ = Clock::time_point::max() - end_ < slot_ ? Clock::time_point::max() : end_ + slot_;
        return std::min(Clock::now() + slot_, end_);
    }

  private:
    Clock::duration slot_;
    Clock::time_point end_;
};

// Waits until `sock` is ready for `events` or `deadline` has passed; false when it is not
// ready by then (or the wait failed).
bool pollUntil(int sock, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return false;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec wait{static_cast<time_t>(ns / 1000000000),
                            static_cast<long>(ns % 1000000000)};
        pollfd fd{sock, events, 0};
        const int ready = ppoll(&fd, 1, &wait, nullptr);
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0 && (fd.revents & POLLNVAL) == 0;
    }
}

// Sends one datagram, waiting for room in the send buffer at most until `deadline`. The send
// buffer holds only a few datagrams, and those waiting for address resolution keep their room
// for seconds: a blocking send would outlast the probe's time-out. -1 when it can't go out.
int sendUntil(int sock, const unsigned char* data, int length, const sockaddr* to,
              socklen_t toLength, Clock::time_point deadline) {
    for (;;) {
        const ssize_t sent =
            sendto(sock, data, static_cast<size_t>(length), MSG_DONTWAIT, to, toLength);
        if (sent >= 0) return static_cast<int>(sent);
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        if (!pollUntil(sock, POLLOUT, deadline)) {
            errno = ETIMEDOUT;
            return -1;
        }
    }
}

// Waits for one datagram until `deadline`. Callers that drop a datagram call again with the
// same deadline, so a stream of unrelated ICMP can't stretch a probe's wait past its time-out.
int waitUntil(int sock, sockaddr_in* from, unsigned char* packet, int datalen,
              Clock::time_point deadline) {
    int result = kTimedOut;
    if (pollUntil(sock, POLLIN, deadline)) {
        socklen_t fromlen = sizeof(sockaddr_in);
        result = static_cast<int>(recvfrom(sock, packet, datalen > 0 ? datalen : 0, 0,
                                           reinterpret_cast<sockaddr*>(from),
                                           from != nullptr ? &fromlen : nullptr));
    }
    if (verbose) {
        printf("wait_for_reply:: Returning %d \n", result);
        fflush(stdout);
    }
    return result;
}

double timeStamp(const timeval& tv) {
    return static_cast<double>(static_cast<long long>(tv.tv_sec) - kTimeStampEpoch) * 1000.0 +
           static_cast<double>(tv.tv_usec) / 1000.0;
}

double timeStampNow() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return timeStamp(now);
}

// The protocol number of the "icmp" entry, or -1 when the system has none.
int icmpProtocol() {
    protoent entry{};
    protoent* found = nullptr;
    char scratch[1024];
    if (getprotobyname_r("icmp", &entry, scratch, sizeof scratch, &found) != 0 ||
        found == nullptr) {
        return -1;
    }
    return found->p_proto;
}

// A method of the listener, looked up once per call. A failed look-up of a required method or
// a call that throws leaves its exception pending and stops the caller, which then makes no
// other JNI call.
class Listener {
  public:
    Listener(JNIEnv* env, jobject listener) : env_(env), listener_(listener) {}

    bool bind(const char* name, const char* signature) {
        if (env_ == nullptr) return true;
        if (listener_ == nullptr) return false;
        jclass cls = env_->GetObjectClass(listener_);
        if (cls == nullptr) return false;
        method_ = env_->GetMethodID(cls, name, signature);
        env_->DeleteLocalRef(cls);
        return method_ != nullptr;
    }

    // A method listeners may lack (those of callers that predate it): without it the look-up's
    // NoSuchMethodError is cleared and calls do nothing.
    bool bindOptional(const char* name, const char* signature) {
        if (bind(name, signature)) return true;
        if (env_->ExceptionCheck()) env_->ExceptionClear();
        return false;
    }

    template <typename... Args>
    bool call(Args... args) {
        if (env_ == nullptr || method_ == nullptr) return true;
        env_->CallVoidMethod(listener_, method_, args...);
        return !env_->ExceptionCheck();
    }

  private:
    JNIEnv* env_;
    jobject listener_;
    jmethodID method_ = nullptr;
};

// The ICMP type names of pr_type, and the text buffers of inetname (one thread at a time).
const char* const ttab[] = {
    "Echo Reply",    "ICMP 1",    "ICMP 2",          "Dest Unreachable",
    "Source Quench", "Redirect",  "ICMP 6",          "ICMP 7",
    "Echo",          "ICMP 9",    "ICMP 10",         "Time Exceeded",
    "Param Problem", "Timestamp", "Timestamp Reply", "Info Request",
    "Info Reply",
};

char line[50];
char domain[257];
int first = 1;

// Identifiers of the latency probes: 101, 102, ..., 65535, 100, 101, ... Each call takes its
// own, also when calls run at the same time. The process's ping identifier is skipped: the ping
// service's receive loop would report the probe's reply as one of its own.
std::atomic<int> pingid{100};

unsigned short nextPingId() {
    const int pingIdentifier = getpid() & 0xFFFF;
    int current = pingid.load();
    int next;
    do {
        next = current;
        do {
            next = next + 1 == 65536 ? 100 : next + 1;
        } while (next == pingIdentifier);
    } while (!pingid.compare_exchange_weak(current, next));
    return static_cast<unsigned short>(next);
}

// The low 32 bits of a Java long, as the int Java sees them.
jint low32(jlong value) {
    return static_cast<jint>(static_cast<uint32_t>(value));
}

}  // namespace

// The trace's own send socket; the ping service's icmp_init and icmp_shutdown are others.
namespace orvela::route {
namespace {

// The send socket of a trace: a descriptor, or -5 (no raw socket) or -6 (an option failed).
int icmp_init(int datalength) {
    int datalen = limitLength(datalength);
    const int sock = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (sock < 0) {
        perror("traceroute: raw socket");
        return -5;
    }
    if (setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &datalen, sizeof datalen) < 0) {
        perror("traceroute: SO_SNDBUF");
        close(sock);
        return -6;
    }
    const int on = 1;
    if (setsockopt(sock, IPPROTO_IP, IP_HDRINCL, &on, sizeof on) < 0) {
        perror("traceroute: IP_HDRINCL");
        close(sock);
        return -6;
    }
    return sock;
}

void icmp_shutdown(int sock) {
    if (sock >= 0) close(sock);
}

}  // namespace
}  // namespace orvela::route

extern "C" {

// ---------------------------------------------------------------------------------------------
// Text helpers

const char* pr_type(unsigned char t) {
    if (t < sizeof ttab / sizeof ttab[0]) return ttab[t];
    return "OUT-OF-RANGE";
}

char* inetname(struct in_addr in) {
    if (first) {
        first = 0;
        if (gethostname(domain, 256) == 0) {
            domain[256] = '\0';
            char* dot = strchr(domain, '.');
            if (dot != nullptr) {
                memmove(domain, dot + 1, strlen(dot + 1) + 1);
            } else {
                domain[0] = '\0';
            }
        } else {
            domain[0] = '\0';
        }
    }
    const char* name = nullptr;
    if (in.s_addr != INADDR_ANY) {
        hostent* entry = gethostbyaddr(&in, sizeof in, AF_INET);
        if (entry != nullptr && entry->h_name != nullptr) {
            char* dot = strchr(entry->h_name, '.');
            if (dot != nullptr && strcmp(dot + 1, domain) == 0) *dot = '\0';
            name = entry->h_name;
        }
    }
    if (name != nullptr) {
        snprintf(line, sizeof line, "%s", name);
    } else {
        const unsigned long address = ntohl(in.s_addr);
        snprintf(line, sizeof line, "%lu.%lu.%lu.%lu", (address >> 24) & 0xff,
                 (address >> 16) & 0xff, (address >> 8) & 0xff, address & 0xff);
    }
    return line;
}

void print(const unsigned char* buf, int cc, const struct sockaddr_in* from) {
    const int hlen = buf != nullptr && cc > 0 ? (buf[0] & 0x0f) * 4 : 0;
    in_addr sender{};
    if (from != nullptr) sender = from->sin_addr;
    printf(" %s (%s)", inetname(sender), inet_ntoa(sender));
    // The address this host was reached at, when the header holding it was received.
    in_addr to{};
    if (buf != nullptr && cc >= kIpHeaderLength) memcpy(&to.s_addr, buf + 16, sizeof to.s_addr);
    printf(" %d bytes to %s", cc - hlen, inet_ntoa(to));
}

// ---------------------------------------------------------------------------------------------
// Route trace

double deltaT(const struct timeval* t1p, const struct timeval* t2p) {
    const long seconds = static_cast<long>(t2p->tv_sec - t1p->tv_sec);
    const long micros = static_cast<long>(t2p->tv_usec - t1p->tv_usec);
    return static_cast<double>(seconds) * 1000.0 + static_cast<double>(micros) / 1000.0;
}

int wait_for_reply(int sock, struct sockaddr_in* from, unsigned char* packet, int datalen,
                   int timeout) {
    return waitUntil(sock, from, packet, datalen, deadlineAfter(timeout));
}

}  // extern "C"

namespace {

// send_probe, giving up on the send at the probe's deadline.
void sendProbeUntil(int sock, int id, int seq, int ttl, const struct sockaddr* whereto,
                    unsigned char* outpacket, int datalen, struct timeval* sent_tv,
                    Clock::time_point deadline) {
    timeval sent{};
    if (outpacket == nullptr || datalen < kProbeLayoutLength) {
        if (sent_tv != nullptr) *sent_tv = sent;
        return;
    }
    const unsigned sourcePort = static_cast<unsigned>(id) & 0xffff;
    const unsigned destinationPort = (port + static_cast<unsigned>(seq)) & 0xffff;

    unsigned char* ip = outpacket;
    ip[0] = 0x45;
    put16(ip + 2, static_cast<unsigned>(datalen));
    put16(ip + 4, static_cast<unsigned>(id));
    put16(ip + 6, 0);
    ip[8] = static_cast<unsigned char>(ttl);
    ip[9] = IPPROTO_UDP;
    put16(ip + 10, 0);
    unsigned char* udp = outpacket + kIpHeaderLength;
    put16(udp + 0, sourcePort);
    put16(udp + 2, destinationPort);
    put16(udp + 4, static_cast<unsigned>(datalen - kIpHeaderLength));
    put16(udp + 6, 0);
    outpacket[28] = static_cast<unsigned char>(seq);
    outpacket[29] = static_cast<unsigned char>(ttl);

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

extern "C" {

void send_probe(int sock, int id, int seq, int ttl, const struct sockaddr* whereto,
                unsigned char* outpacket, int datalen, struct timeval* sent_tv) {
    sendProbeUntil(sock, id, seq, ttl, whereto, outpacket, datalen, sent_tv, deadlineAfter(0));
}

int packet_ok(int id, const unsigned char* buf, int cc, const struct sockaddr_in* from, int seq) {
    const int hlen = buf != nullptr && cc > 0 ? (buf[0] & 0x0f) * 4 : 0;
    if (buf == nullptr || hlen < kIpHeaderLength || cc < hlen + kIcmpHeaderLength) {
        if (verbose) printf("packet too short (%d bytes) from %s\n", cc, dotted(from));
        return 0;
    }
    const unsigned char* icp = buf + hlen;
    const int icmplen = cc - hlen;
    const int type = icp[0];
    const int code = icp[1];
    if ((type == 11 && code == 0) || type == 3) {
        // The quoted datagram: its IPv4 header, then the first bytes of the probe's UDP header.
        const unsigned char* quoted = icp + kIcmpHeaderLength;
        const int qhlen = icmplen > kIcmpHeaderLength ? (quoted[0] & 0x0f) * 4 : 0;
        if (qhlen >= kIpHeaderLength && qhlen + 12 <= icmplen) {
            const unsigned char* qudp = quoted + qhlen;
            if (quoted[9] == IPPROTO_UDP && get16(qudp) == (static_cast<unsigned>(id) & 0xffff) &&
                get16(qudp + 2) == ((port + static_cast<unsigned>(seq)) & 0xffff)) {
                return type == 11 ? -1 : code + 1;
            }
        }
    }
    if (verbose) dumpWords(icp, icmplen, 4, icmplen, 4);
    return 0;
}

int start_trace(int sock, unsigned short id, long dest, unsigned short top_ttl, int datalength,
                int service, int timeout, JNIEnv* env, jobject listener) {
    int max_ttl = 25;
    int tos = 0;
    int rc = 0;
    double latency = -1.0;
    int done = 0;

    Listener report(env, listener);
    if (!report.bind("handleHop", "(IIIIDIII)V")) return kRcSocket;
    Listener unreachable(env, listener);
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
        perror("traceroute: malloc");
        return setupFailure(kRcNoBuffer);
    }
    outpacket[0] = 0x45;
    outpacket[1] = static_cast<unsigned char>(tos);
    memcpy(outpacket.get() + 16, &whereto.sin_addr.s_addr, 4);

    const int protocol = icmpProtocol();
    if (protocol < 0) {
        if (verbose) printf("icmp: unknown protocol\n");
        return setupFailure(kRcNoIcmpEntry);
    }
    ScopedFd s(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, protocol));
    if (!s) {
        perror("traceroute: icmp socket");
        printf("traceroute: icmp socket error.\n");
        return setupFailure(kRcSocket);
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
            rc = 0;
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
                if (i > 0) answers[answered++] = {seq, sender, i - 1};  // one per probe
                switch (i) {
                    case 3:  // protocol unreachable
                    case 4:  // port unreachable: the destination itself answered
                        done = 1;
                        break;
                    case 1:  // network unreachable
                    case 2:  // host unreachable
                    case 5:  // fragmentation needed
                    case 6:  // source route failed
                        rc = kRcUnreachable;
                        if (lastProbe) done = 1;
                        break;
                    default:  // time exceeded, or unreachable with an administrative code
                        break;
                }
                break;
            }
            if (cc == 0) {
                rc = kRcEmptyReceive;
                if (lastProbe) done = 1;
            } else if (cc < 0) {
                rc = cc;
                if (lastProbe) done = 1;
            }
            if (verbose) fflush(stdout);
            if (rc == 0) break;
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

// ---------------------------------------------------------------------------------------------
// Latency probe

unsigned short in_cksum(const unsigned short* ptr, int nbytes) {
    // The ping service's checksum only reads the bytes it is given.
    return checksum(const_cast<unsigned short*>(ptr), nbytes);
}

int createSendSocket(int packetSize) {
    const int sock = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (sock < 0) {
        if (verbose) printf(">>>> cannot create raw socket: %s\n", strerror(errno));
        return sock;
    }
    if (verbose) printf("&&&&&&&&&&&&&&&& SO_SNDBUF \n\n");
    if (setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &packetSize, sizeof packetSize) < 0) {
        if (verbose) printf(">>>>  SO_SNDBUF: %s\n", strerror(errno));
        close(sock);
        return -1;
    }
    if (verbose) printf("&&&&&&&&&&&&&&&& IP_HDRINCL \n\n");
    const int on = 1;
    if (setsockopt(sock, IPPROTO_IP, IP_HDRINCL, &on, sizeof on) < 0) {
        if (verbose) printf(">>>> IP_HDRINCL: %s\n", strerror(errno));
        close(sock);
        return -1;
    }
    return sock;
}

}  // extern "C"

namespace {

// sendPingPacket, giving up on the send at the try's deadline.
double sendPingPacketUntil(int sndsock, unsigned char* outip, int id, int seq, int ttl, int packlen,
                           const struct sockaddr_in* to, Clock::time_point deadline) {
    if (outip == nullptr || to == nullptr || packlen < kEchoLayoutLength) return -1.0;
    memset(outip, 0, static_cast<size_t>(packlen));

    outip[0] = 0x45;
    put16(outip + 2, static_cast<unsigned>(packlen));
    put16(outip + 4, static_cast<unsigned>(id + seq));
    outip[8] = static_cast<unsigned char>(ttl);
    outip[9] = IPPROTO_ICMP;
    memcpy(outip + 16, &to->sin_addr.s_addr, 4);
    put16(outip + 10, nonZeroChecksum(in_cksum(reinterpret_cast<const unsigned short*>(outip),
                                               kIpHeaderLength)));

    unsigned char* icmp = outip + kIpHeaderLength;
    icmp[0] = 8;  // echo request
    icmp[1] = 0;
    put16(icmp + 4, static_cast<unsigned>(id));
    put16(icmp + 6, static_cast<unsigned>(seq));

    timeval now{};
    gettimeofday(&now, nullptr);
    const int32_t seconds = static_cast<int32_t>(now.tv_sec);
    const int32_t micros = static_cast<int32_t>(now.tv_usec);
    memcpy(outip + kEchoTimeOffset, &seconds, 4);
    memcpy(outip + kEchoTimeOffset + 4, &micros, 4);
    const double sendTime = timeStamp(now);

    put16(icmp + 2, nonZeroChecksum(in_cksum(reinterpret_cast<const unsigned short*>(icmp),
                                             packlen - kIpHeaderLength)));

    if (verbose) {
        printf("[ping-%d-%d]going to send %d bytes to %s\n", id, seq, packlen,
               inet_ntoa(to->sin_addr));
    }
    const int cc = sendUntil(sndsock, outip, packlen, reinterpret_cast<const sockaddr*>(to),
                             sizeof *to, deadline);
    if (cc < 0) {
        if (verbose) printf(">>>> send failed, cc: %d\n", cc);
        return -1.0;
    }
    if (cc < packlen) {
        if (verbose) printf("sent %d bytes (*** less than packet_size)\n", cc);
        return sendTime;
    }
    if (verbose) printf("Sent %d bytes at %g\n", cc, sendTime);
    return sendTime;
}

// ping_packet_ok; with `probed`, only what concerns that address answers: an echo reply from
// it, or an error that quotes a request to it. Another host's reply to another probe with the
// same identifier (another process's, which counts from 101 too) is not this try's.
int echoAnswerType(int sendID, const unsigned char* recvBuf, int bytesRead,
                   const struct sockaddr_in* from, int sendSEQ, const in_addr* probed) {
    const int headerLen = recvBuf != nullptr && bytesRead > 0 ? (recvBuf[0] & 0x0f) * 4 : 0;
    if (recvBuf == nullptr || headerLen < kIpHeaderLength ||
        bytesRead < headerLen + kIcmpHeaderLength) {
        if (verbose) printf(" >>>> deliver() too few bytes received\n");
        return -1;
    }
    if (recvBuf[9] != IPPROTO_ICMP) {
        if (verbose) printf("deliver() : bad packet, not ICMP: protocol: %d\n", recvBuf[9]);
        return -1;
    }
    const unsigned char* icmp = recvBuf + headerLen;
    const int icmpLen = bytesRead - headerLen;
    const int type = icmp[0];
    const int code = icmp[1];
    if (verbose) {
        printf(" === ICMP packet, type: %d, code: %d, from %s\n", type, code, dotted(from));
    }
    // Errors quote the datagram that caused them; the identifier and sequence number are read
    // from the quoted ICMP header, other messages carry them in their own.
    const unsigned char* echoHeader = icmp;
    if (type == 3 || type == 11) {
        const unsigned char* quoted = icmp + kIcmpHeaderLength;
        const int quotedLen = icmpLen > kIcmpHeaderLength ? (quoted[0] & 0x0f) * 4 : 0;
        if (quotedLen < kIpHeaderLength ||
            kIcmpHeaderLength + quotedLen + kIcmpHeaderLength > icmpLen) {
            return -1;
        }
        // Only an echo request of ours is quoted as ICMP: a trace probe's UDP length and
        // checksum lie where the identifier and sequence number would be.
        if (quoted[9] != IPPROTO_ICMP) return -1;
        if (probed != nullptr && memcmp(quoted + 16, &probed->s_addr, 4) != 0) return -1;
        echoHeader = quoted + quotedLen;
    } else if (probed != nullptr && (from == nullptr || from->sin_addr.s_addr != probed->s_addr)) {
        return -1;
    }
    // The request itself, seen on its way to this host's own address, answers nothing.
    if (type == 8) return -1;
    if (get16(echoHeader + 4) == (static_cast<unsigned>(sendID) & 0xffff) &&
        get16(echoHeader + 6) == (static_cast<unsigned>(sendSEQ) & 0xffff)) {
        return type;
    }
    return -1;
}

}  // namespace

extern "C" {

double sendPingPacket(int sndsock, unsigned char* outip, int id, int seq, int ttl, int packlen,
                      const struct sockaddr_in* to) {
    return sendPingPacketUntil(sndsock, outip, id, seq, ttl, packlen, to, deadlineAfter(0));
}

int ping_packet_ok(int sendID, const unsigned char* recvBuf, int bytesRead,
                   const struct sockaddr_in* from, int sendSEQ) {
    return echoAnswerType(sendID, recvBuf, bytesRead, from, sendSEQ, nullptr);
}

int start_test(unsigned short id, uint32_t dest, unsigned short ttl, int datalength, int service,
               int timeout, JNIEnv* env, jobject listener) {
    (void)service;  // the type of service stays 0
    int datalen = kMaxPacket;
    int rc = 0;
    int done = 0;
    double latency = 0.0;

    Listener report(env, listener);
    if (!report.bind("handleLatency", "(IIIIDII)V")) return -1;

    if (ttl == 0 || ttl == 1) ttl = 25;
    if (datalength <= kMaxPacket) datalen = datalength;
    if (datalen < kMinPacket) datalen = kMinPacket;

    Buffer pingBuffer = allocateBuffer(datalen);
    Buffer replyBuffer = allocateBuffer(datalen);
    if (!pingBuffer || !replyBuffer) rc = kRcNoBuffer;

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = 0;
    to.sin_addr.s_addr = htonl(dest);

    ScopedFd sendsock(createSendSocket(datalen));
    if (!sendsock) {
        if (verbose) {
            perror("start_test: ip socket");
            printf("start_test: ip socket error.\n");
        }
        rc = -1;
    }
    const int protocol = icmpProtocol();
    ScopedFd recvsock(protocol < 0 ? -1 : socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, protocol));
    if (!recvsock) {
        if (verbose) {
            perror("traceroute: icmp socket");
            printf("traceroute: icmp socket error.\n");
        }
        rc = -1;
    }

    int seq = 0;
    if (rc == 0) {
        TrySlots slots(timeout);
        for (; !done && seq < nprobes; ++seq) {
            // The deadline covers the send too: a send that can't go out by then fails the try.
            const Clock::time_point deadline = slots.next();
            const double sendTime = sendPingPacketUntil(sendsock.get(), pingBuffer.get(), id, seq,
                                                        ttl, datalen, &to, deadline);
            for (;;) {
                sockaddr_in from{};
                const int cc =
                    waitUntil(recvsock.get(), &from, replyBuffer.get(), datalen, deadline);
                if (cc <= 0) break;
                const double recvTime = timeStampNow();
                const int type =
                    echoAnswerType(id, replyBuffer.get(), cc, &from, seq, &to.sin_addr);
                if (type == -1) continue;
                if (type == 0) {
                    latency = static_cast<double>(
                                  static_cast<long long>((recvTime - sendTime) * 1000.0)) /
                              1000.0;
                    done = 1;
                }
                break;  // an echo reply, or an error that quotes this try
            }
        }
        if (!done) rc = -1;
    }

    const jint jdest = static_cast<jint>(dest);
    report.call(jint{id}, jint{seq}, jdest, jint{rc}, jdouble{latency}, jint{datalen}, jdest);
    return rc;
}

// ---------------------------------------------------------------------------------------------
// Java entry points

JNIEXPORT void JNICALL Java_com_orvela_core_icmp_ASM_getLatency(JNIEnv* env, jclass, jint,
                                                                jlong dest, jint ttl,
                                                                jlong packetSize, jint tos,
                                                                jint timeout, jobject listener) {
    if (listener == nullptr) return;  // nobody to report to
    start_test(nextPingId(), static_cast<uint32_t>(dest), static_cast<unsigned short>(ttl),
               low32(packetSize), tos, timeout, env, listener);
}

JNIEXPORT void JNICALL Java_com_orvela_core_icmp_ASM_getTrace(JNIEnv* env, jclass, jint id,
                                                              jlong dest, jint ttl,
                                                              jlong packetSize, jint tos,
                                                              jint timeout, jobject listener) {
    if (listener == nullptr) return;  // nobody to report to
    const int sock = orvela::route::icmp_init(low32(packetSize));
    start_trace(sock, static_cast<unsigned short>(id),
                static_cast<long>(static_cast<uint32_t>(dest)), static_cast<unsigned short>(ttl),
                low32(packetSize), tos, timeout, env, listener);
    orvela::route::icmp_shutdown(sock);
}

}  // extern "C"
