#pragma once

// Latency probe: one self-built IPv4 + ICMP echo datagram per try, matched to the reply or the
// ICMP error it provokes. The C functions leave the library under their own names.

#include <jni.h>
#include <netinet/in.h>

#include <cstdint>

#include "binding/Export.h"

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

}  // namespace orvela::icmp
