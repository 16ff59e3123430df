#pragma once

// Route trace: UDP probes of rising time to live, matched to the ICMP answers they provoke. The
// C functions leave the library under their own names, so that its callers and tools find them.

#include <jni.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include "binding/Export.h"

extern "C" {

ORVELA_EXPORT int start_trace(int sock, unsigned short id, long dest, unsigned short top_ttl,
                              int datalength, int service, int timeout, JNIEnv* env,
                              jobject listener);
ORVELA_EXPORT void send_probe(int sock, int id, int seq, int ttl, const struct sockaddr* whereto,
                              unsigned char* outpacket, int datalen, struct timeval* sent_tv);
ORVELA_EXPORT int wait_for_reply(int sock, struct sockaddr_in* from, unsigned char* packet,
                                 int datalen, int timeout);
ORVELA_EXPORT int packet_ok(int id, const unsigned char* buf, int cc,
                            const struct sockaddr_in* from, int seq);
ORVELA_EXPORT double deltaT(const struct timeval* t1p, const struct timeval* t2p);

}  // extern "C"

namespace orvela::icmp {

// A whole trace as ASM.getTrace runs it: its send socket opened and closed around start_trace,
// or, where raw sockets are refused for want of privilege, UDP probes from a socket that also
// receives their answers. The status of the last report.
int traceRoute(unsigned short id, long dest, unsigned short top_ttl, int datalength, int service,
               int timeout, JNIEnv* env, jobject listener);

// A whole trace to an IPv6 host as ASM.getTrace6 runs it, for every user: UDP probes with rising
// hop limits from one socket that takes the ICMPv6 answers off its error queue; reports go to
// handleHop6 and handleUnreachable6, `jdest` being handed back in each. `datalength` is limited
// as for IPv4 and counts the whole IPv6 datagram. The status of the last report.
int traceRoute6(unsigned short id, const in6_addr& dest, jbyteArray jdest, unsigned short top_ttl,
                int datalength, int service, int timeout, JNIEnv* env, jobject listener);

}  // namespace orvela::icmp
