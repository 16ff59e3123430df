// The load hook of the libraries that read the debug switch.
#include <jni.h>

#include "binding/DebugLevel.h"

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* /*jvm*/, void* /*reserved*/) {
    orvela::readDebugLevel();
    return JNI_VERSION_1_2;
}
