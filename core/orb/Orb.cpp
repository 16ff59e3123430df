// The thread-dump natives of com.orvela.core.orb.Orb.
#include <jni.h>

#include "core/orb/ThreadDump.h"

extern "C" {

JNIEXPORT void JNICALL Java_com_orvela_core_orb_Orb_dump0(JNIEnv*, jclass) {
    orvela::orb::dumpThreads();
}

JNIEXPORT void JNICALL Java_com_orvela_core_orb_Orb_dump1(JNIEnv* env, jclass, jstring jFilename) {
    orvela::orb::dumpThreadsToFile(env, jFilename);
}

}  // extern "C"
