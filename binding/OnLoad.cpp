// The load hook of the libraries that read the debug switch.
#include <jni.h>

#include "binding/DebugLevel.h"

#if defined(_WIN32)
#include <windows.h>
#endif

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* /*jvm*/, void* /*reserved*/) {
    orvela::readDebugLevel();
#if defined(_WIN32)
    // Above 3 the process stops here so that a debugger can be attached before any native runs.
    if (orvela::debug > 3) {
        DebugBreak();
    }
#endif
    return JNI_VERSION_1_2;
}
