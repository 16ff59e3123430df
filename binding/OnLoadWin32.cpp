// The load hook of the libraries that read the debug switch.
#include <jni.h>
#include <windows.h>

#include "binding/DebugLevel.h"

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* /*jvm*/, void* /*reserved*/) {
    orvela::readDebugLevel();
    // Above 3 the process stops here so that a debugger can be attached before any native runs.
    if (orvela::debug > 3) {
        DebugBreak();
    }
    return JNI_VERSION_1_2;
}
