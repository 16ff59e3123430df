#pragma once

// The ping service of icmpprobe: one ICMP socket per icmp_init (raw, or the datagram kind for a
// process without the privilege), or one ICMPv6 socket per openPingSocket6 on the same terms,
// 64-byte echo requests that carry their send time, and a receive loop that reports every echo
// reply on a socket of either family.
//
// The C functions and settings below leave the library under their own names; the rest of this
// header is internal to icmpprobe and its tests.

#include <jni.h>
#include <netinet/in.h>
#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "binding/Export.h"
#include "core/icmp/InternetChecksum.h"

extern "C" {

// Bytes of every echo request (ICMP header and data).
ORVELA_EXPORT extern int packetsize;
// The file that keeps the latest socket error line.
ORVELA_EXPORT extern const char* pingLogFile;
// Non-zero: the ping functions print their diagnostic lines on standard output.
ORVELA_EXPORT extern int trace;

// Opens a raw ICMP socket, or where raw sockets are refused for want of privilege a datagram ICMP
// socket; returns its descriptor or -1 (the raw socket's error goes to the log file).
ORVELA_EXPORT int icmp_init();
// Sends one echo request with sequence number reqID to dest (first octet in the most
// significant byte). 0 when the whole request went out, -1 otherwise. ttl is not applied.
ORVELA_EXPORT int send_ping(int icmpsd, int32_t dest, unsigned short reqID, unsigned short ttl);
// Closes a socket that icmp_init opened; a receive loop on it returns and lets go of it first.
ORVELA_EXPORT void icmp_shutdown(int icmpsd);
// Reports every echo reply on icmpsd to observer's removePingRequest until the socket is shut
// down; an observer whose class has removePingRequestMicros (ISJ)V gets that call instead, with
// the round trip in microseconds. On an ICMPv6 socket the same with removePingRequest6 ([BSI)V
// and removePingRequest6Micros ([BSJ)V, the sender as a new 16-byte array. A null env makes no
// JNI call.
ORVELA_EXPORT void receive_pings(int icmpsd, JNIEnv* env, jobject observer);
// Runs receive_pings on the descriptor (the pointer's value) without Java; returns 0.
ORVELA_EXPORT int TestReceivePings(void* socketIn);

}  // extern "C"

namespace orvela::icmp {

// Opens an ICMPv6 echo socket, raw or where raw sockets are refused for want of privilege the
// datagram kind, for the receive loop and icmp_shutdown as icmp_init's sockets are; its
// descriptor or -1 (the raw socket's error goes to the log file, as with icmp_init).
int openPingSocket6();

// Sends one ICMPv6 echo request, the same bytes as send_ping's but for its type, with sequence
// number reqID to dest on a socket of openPingSocket6; the kernel computes the checksum. 0 when
// the whole request went out, -1 otherwise (also for any other descriptor).
int sendPing6(int icmpsd, const in6_addr& dest, uint16_t reqID);

// One echo reply as the receive loop reports it.
struct PingReply {
    sa_family_t family;       // AF_INET: the sender is `address`; AF_INET6: `address6`
    uint32_t address;         // sender, first octet in the most significant byte
    in6_addr address6;        // sender of an ICMPv6 reply
    uint16_t reqID;           // the sequence number for this process's replies, else 0
    int32_t roundtripTime;    // whole milliseconds for this process's replies, else 0
    int64_t roundtripMicros;  // the same in microseconds
    uint8_t type;             // ICMP type (always 0, or 129 for ICMPv6: echo reply)
    timeval sent;             // send time carried by the reply (zero unless it is ours)
};

// Everything the loop does with one received datagram: `datagram` holds `length` bytes as the
// raw socket delivered them (IPv4 header first), `senderAddress` is the sender in network byte
// order, `identifier` this process's echo identifier and `now` the arrival time. Returns the
// reply to report, or nothing when the datagram is to be dropped. Reads nothing but its
// arguments and never reads past `length`.
std::optional<PingReply> handleDatagram(const uint8_t* datagram, size_t length,
                                        uint32_t senderAddress, uint16_t identifier,
                                        const timeval& now);

// handleDatagram for what a datagram ICMP socket delivers: the ICMP message alone, `length`
// bytes at `icmp`, with `identifier` the one the kernel chose for the socket.
std::optional<PingReply> handleIcmpMessage(const uint8_t* icmp, size_t length,
                                           uint32_t senderAddress, uint16_t identifier,
                                           const timeval& now);

// handleIcmpMessage for what an ICMPv6 socket, raw or datagram, delivers: the ICMPv6 message
// alone, from `sender`.
std::optional<PingReply> handleIcmp6Message(const uint8_t* icmp, size_t length,
                                            const in6_addr& sender, uint16_t identifier,
                                            const timeval& now);

// Receives the replies of the loop. start is called once, before the first wait, with the
// socket's family (AF_INET or AF_INET6): false ends the loop before it begins. onReply returns
// false to end the loop.
class ReplySink {
  public:
    virtual bool start(sa_family_t) { return true; }
    virtual bool onReply(const PingReply& reply) = 0;

  protected:
    ~ReplySink() = default;
};

// The receive loop on a socket from icmp_init; a null sink only drains the socket. Returns when
// the socket is shut down, a wait or receive fails, or the sink says stop.
void runReceiveLoop(int icmpsd, ReplySink* sink);

}  // namespace orvela::icmp
