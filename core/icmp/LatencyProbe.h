#pragma once

// Latency probe: one self-built IPv4 + ICMP echo datagram per try, matched to the reply or the
// ICMP error it provokes. The C functions leave the library under their own names.

#include <jni.h>
#include <netinet/in.h>

#include <cstdint>

#include "binding/Export.h"
#include "core/icmp/ProbeWait.h"

extern "C" {

ORVELA_EXPORT int start_test(unsigned short id, uint32_t dest, unsigned short ttl, int datalength,
                             int service, int timeout, JNIEnv* env, jobject listener);
ORVELA_EXPORT int createSendSocket(int packetSize);
ORVELA_EXPORT double sendPingPacket(int sndsock, unsigned char* outip, int id, int seq, int ttl,
                                    int packlen, const struct sockaddr_in* to);
ORVELA_EXPORT int ping_packet_ok(int sendID, const unsigned char* recvBuf, int bytesRead,
                                 const struct sockaddr_in* from, int sendSEQ);

}  // extern "C"

namespace orvela::icmp {

// The identifier of the next latency probe: 101, 102, ..., 65535, 100, 101, ... Each call takes
// its own, also when calls run at the same time. The process's ping identifier is skipped: the
// ping service's receive loop would report the probe's reply as one of its own.
unsigned short nextLatencyProbeId();

// A latency probe to an IPv6 host as ASM.getLatency6 runs it: ICMPv6 echo requests with the hop
// limit `ttl` (0 or 1: 25), `datalength` limited as for IPv4 and counting the whole IPv6
// datagram; one report to handleLatency6, which gets `jdest` back. The status reported.
int probeLatency6(unsigned short id, const in6_addr& dest, jbyteArray jdest, unsigned short ttl,
                  int datalength, int timeout, JNIEnv* env, jobject listener);

// What an ICMPv6 socket of a latency probe delivered, for try `seq` to `probed`:
// ICMP6_ECHO_REPLY for its reply (from `probed`), the type of an ICMPv6 error that quotes its
// request, -1 for anything else. `message` holds the `cc` bytes received: an ICMPv6 message, or
// what a queued error quoted of the request. `identifier` is the probe's own on a raw socket;
// null on a datagram socket, whose kernel chose it and hands the socket only its own replies.
int echo6AnswerType(const uint16_t* identifier, const in6_addr& probed, int seq,
                    const unsigned char* message, int cc, const Delivery& delivery);

}  // namespace orvela::icmp
