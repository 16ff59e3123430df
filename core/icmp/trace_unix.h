#pragma once

// Route trace, latency probe and their text helpers. Every name here leaves the library
// unmangled, so that the library's callers and tools find them under their own names.

#include <jni.h>
#include <netinet/in.h>
#include <stdint.h>
#include <sys/socket.h>
#include <sys/time.h>

#include "binding/Export.h"

extern "C" {

// Settings, read by every trace and latency probe.
ORVELA_EXPORT extern int nprobes;          // most probes per hop, and tries per latency probe
ORVELA_EXPORT extern unsigned short port;  // base UDP destination port of the trace probes
ORVELA_EXPORT extern int verbose;          // diagnostic lines on standard output when non-zero

// Text helpers. inetname and print share process-wide buffers: one thread at a time.
ORVELA_EXPORT const char* pr_type(unsigned char t);
ORVELA_EXPORT char* inetname(struct in_addr in);
ORVELA_EXPORT void print(const unsigned char* buf, int cc, const struct sockaddr_in* from);

// Route trace.
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

// Latency probe.
ORVELA_EXPORT int start_test(unsigned short id, uint32_t dest, unsigned short ttl, int datalength,
                             int service, int timeout, JNIEnv* env, jobject listener);
ORVELA_EXPORT int createSendSocket(int packetSize);
ORVELA_EXPORT double sendPingPacket(int sndsock, unsigned char* outip, int id, int seq, int ttl,
                                    int packlen, const struct sockaddr_in* to);
ORVELA_EXPORT int ping_packet_ok(int sendID, const unsigned char* recvBuf, int bytesRead,
                                 const struct sockaddr_in* from, int sendSEQ);
ORVELA_EXPORT unsigned short in_cksum(const unsigned short* ptr, int nbytes);

}  // extern "C"
