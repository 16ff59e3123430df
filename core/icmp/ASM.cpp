// The natives of com.orvela.core.icmp.ASM: the latency probe and the route trace.

#include <jni.h>

#include <cstdint>

#include "core/icmp/JavaIpv6Address.h"
#include "core/icmp/LatencyProbe.h"
#include "core/icmp/ProbeBuffer.h"
#include "core/icmp/RouteTrace.h"

using namespace orvela::icmp;

extern "C" {

JNIEXPORT void JNICALL Java_com_orvela_core_icmp_ASM_getLatency(JNIEnv* env, jclass, jint,
                                                                jlong dest, jint ttl,
                                                                jlong packetSize, jint tos,
                                                                jint timeout, jobject listener) {
    if (listener == nullptr) return;  // nobody to report to
    start_test(nextLatencyProbeId(), static_cast<uint32_t>(dest), static_cast<unsigned short>(ttl),
               requestedLength(packetSize), tos, timeout, env, listener);
}

JNIEXPORT void JNICALL Java_com_orvela_core_icmp_ASM_getTrace(JNIEnv* env, jclass, jint id,
                                                              jlong dest, jint ttl,
                                                              jlong packetSize, jint tos,
                                                              jint timeout, jobject listener) {
    if (listener == nullptr) return;  // nobody to report to
    traceRoute(static_cast<unsigned short>(id), static_cast<long>(static_cast<uint32_t>(dest)),
               static_cast<unsigned short>(ttl), requestedLength(packetSize), tos, timeout, env,
               listener);
}

JNIEXPORT void JNICALL Java_com_orvela_core_icmp_ASM_getLatency6(JNIEnv* env, jclass, jint,
                                                                 jbyteArray dest, jint ttl,
                                                                 jlong packetSize, jint,
                                                                 jint timeout, jobject listener) {
    in6_addr address;
    if (!readIpv6Address(env, dest, &address)) return;
    if (listener == nullptr) return;  // nobody to report to
    probeLatency6(nextLatencyProbeId(), address, dest, static_cast<unsigned short>(ttl),
                  requestedLength(packetSize), timeout, env, listener);
}

JNIEXPORT void JNICALL Java_com_orvela_core_icmp_ASM_getTrace6(JNIEnv* env, jclass, jint id,
                                                               jbyteArray dest, jint ttl,
                                                               jlong packetSize, jint tos,
                                                               jint timeout, jobject listener) {
    in6_addr address;
    if (!readIpv6Address(env, dest, &address)) return;
    if (listener == nullptr) return;  // nobody to report to
    traceRoute6(static_cast<unsigned short>(id), address, dest, static_cast<unsigned short>(ttl),
                requestedLength(packetSize), tos, timeout, env, listener);
}

}  // extern "C"
