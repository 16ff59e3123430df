// The native of com.orvela.core.icmp.JNIPingReceiver: the ping service's receive loop.
#include <jni.h>

#include "core/icmp/PingService.h"

extern "C" {

JNIEXPORT void JNICALL Java_com_orvela_core_icmp_JNIPingReceiver_nativeReceivePings(
    JNIEnv* env, jclass, jint icmpsd, jobject observer) {
    receive_pings(icmpsd, env, observer);
}

}  // extern "C"
