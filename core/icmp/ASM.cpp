// The natives of com.orvela.core.icmp.ASM: the latency probe and the route trace.

#include <jni.h>

#include <cstdint>

#include "core/icmp/JavaIpv6Address.h"
#include "core/icmp/LatencyProbe.h"
#include "core/icmp/RouteTrace.h"

namespace {

// The low 32 bits of a Java long, as the int Java sees them.
jint low32(jlong value) {
    return static_cast<jint>(static_cast<uint32_t>(value));
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_orvela_core_icmp_ASM_getLatency(JNIEnv* env, jclass, jint,
                                                                jlong dest, jint ttl,
                                                                jlong packetSize, jint tos,
                                                                jint timeout, jobject listener) {
    if (listener == nullptr) return;  // nobody to report to
    start_test(orvela::icmp::nextLatencyProbeId(), static_cast<uint32_t>(dest),
               static_cast<unsigned short>(ttl), low32(packetSize), tos, timeout, env, listener);
}

JNIEXPORT void JNICALL Java_com_orvela_core_icmp_ASM_getTrace(JNIEnv* env, jclass, jint id,
                                                              jlong dest, jint ttl,
                                                              jlong packetSize, jint tos,
                                                              jint timeout, jobject listener) {
    if (listener == nullptr) return;  // nobody to report to
    orvela::icmp::traceRoute(
        static_cast<unsigned short>(id), static_cast<long>(static_cast<uint32_t>(dest)),
        static_cast<unsigned short>(ttl), low32(packetSize), tos, timeout, env, listener);
}

JNIEXPORT void JNICALL Java_com_orvela_core_icmp_ASM_getLatency6(JNIEnv* env, jclass, jint,
                                                                 jbyteArray dest, jint ttl,
                                                                 jlong packetSize, jint,
                                                                 jint timeout, jobject listener) {
    in6_addr address;
    if (!orvela::icmp::readIpv6Address(env, dest, &address)) return;
    if (listener == nullptr) return;  // nobody to report to
    orvela::icmp::probeLatency6(orvela::icmp::nextLatencyProbeId(), address, dest,
                                static_cast<unsigned short>(ttl), low32(packetSize), timeout, env,
                                listener);
}

JNIEXPORT void JNICALL Java_com_orvela_core_icmp_ASM_getTrace6(JNIEnv* env, jclass, jint id,
                                                               jbyteArray dest, jint ttl,
                                                               jlong packetSize, jint tos,
                                                               jint timeout, jobject listener) {
    in6_addr address;
    if (!orvela::icmp::readIpv6Address(env, dest, &address)) return;
    if (listener == nullptr) return;  // nobody to report to
    orvela::icmp::traceRoute6(static_cast<unsigned short>(id), address, dest,
                              static_cast<unsigned short>(ttl), low32(packetSize), tos, timeout,
                              env, listener);
}

}  // extern "C"
