// The thread-dump natives of com.orvela.core.cli.Stackprinter, carried by the channel library.
#include <jni.h>

#include "core/orb/ThreadDump.h"

extern "C" {

JNIEXPORT void JNICALL Java_com_orvela_core_cli_Stackprinter_dump0(JNIEnv*, jclass) {
    orvela::orb::dumpThreads();
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_Stackprinter_dump1(JNIEnv* env, jclass,
                                                                   jstring jFilename) {
    orvela::orb::dumpThreadsToFile(env, jFilename);
}

}  // extern "C"
