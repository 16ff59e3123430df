// A test-only library that exposes the Windows binding pieces to the JNI test host: the
// system's error texts, the exception that carries one, and the load hook.
#include <jni.h>
#include <windows.h>

#include "binding/LastErrorMsg.h"
#include "binding/ScopedLocalFree.h"
#include "binding/ThrowSystemError.h"

extern "C" {

// The text of `err`, or null when the system has none.
JNIEXPORT jstring JNICALL Java_com_orvela_test_windows_WinBindingProbe_lastErrorMsg(JNIEnv* env,
                                                                                    jclass,
                                                                                    jint err) {
    orvela::ScopedLocalFree<char> text(orvela::getLastErrorMsg(static_cast<DWORD>(err)));
    return text ? env->NewStringUTF(text.get()) : nullptr;
}

// The text of the calling thread's last error, after setting it to `err`.
JNIEXPORT jstring JNICALL Java_com_orvela_test_windows_WinBindingProbe_threadErrorMsg(JNIEnv* env,
                                                                                      jclass,
                                                                                      jint err) {
    SetLastError(static_cast<DWORD>(err));
    orvela::ScopedLocalFree<char> text(orvela::getLastErrorMsg());
    return text ? env->NewStringUTF(text.get()) : nullptr;
}

JNIEXPORT void JNICALL Java_com_orvela_test_windows_WinBindingProbe_throwSystemError(JNIEnv* env,
                                                                                     jclass,
                                                                                     jint err) {
    orvela::throwIOError(env, static_cast<DWORD>(err));
}

// A time-out, then a failure whose text takes its place.
JNIEXPORT void JNICALL Java_com_orvela_test_windows_WinBindingProbe_throwSystemErrorReplacing(
    JNIEnv* env, jclass, jint err) {
    orvela::throwTimeout(env);
    orvela::throwSystemErrorReplacing(env, orvela::kIllegalArgumentException,
                                      static_cast<DWORD>(err));
}

}  // extern "C"
