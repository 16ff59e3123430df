// The natives of com.orvela.core.icmp.JNIPinger: thin wrappers around the ping service.
#include <jni.h>

#include <cstdint>

#include "core/icmp/JavaIpv6Address.h"
#include "core/icmp/PingService.h"

using namespace orvela::icmp;

extern "C" {

JNIEXPORT jint JNICALL Java_com_orvela_core_icmp_JNIPinger_nativeICMPInit(JNIEnv*, jclass) {
    return icmp_init();
}

JNIEXPORT jint JNICALL Java_com_orvela_core_icmp_JNIPinger_nativeSendPing(JNIEnv*, jclass,
                                                                          jint icmpsd, jint dest,
                                                                          jshort reqID,
                                                                          jshort ttl) {
    return send_ping(icmpsd, dest, static_cast<uint16_t>(reqID), static_cast<uint16_t>(ttl));
}

JNIEXPORT void JNICALL Java_com_orvela_core_icmp_JNIPinger_nativeICMPShutdown(JNIEnv*, jclass,
                                                                              jint icmpsd) {
    icmp_shutdown(icmpsd);
}

JNIEXPORT jint JNICALL Java_com_orvela_core_icmp_JNIPinger_nativeICMPInit6(JNIEnv*, jclass) {
    return openPingSocket6();
}

JNIEXPORT jint JNICALL Java_com_orvela_core_icmp_JNIPinger_nativeSendPing6(JNIEnv* env, jclass,
                                                                           jint icmpsd,
                                                                           jbyteArray dest,
                                                                           jshort reqID, jshort) {
    in6_addr address;
    if (!readIpv6Address(env, dest, &address)) return -1;
    return sendPing6(icmpsd, address, static_cast<uint16_t>(reqID));
}

}  // extern "C"
