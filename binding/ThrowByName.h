#pragma once

#include <jni.h>

namespace orvela {

// Throws a new exception of the class `name` (slashes, as "java/io/IOException") with `msg`,
// or without a message when `msg` is null. When the class can't be found, the VM's own error
// from FindClass is what Java sees. Exceptions already pending are not looked at.
void JNU_ThrowByName(JNIEnv* env, const char* name, const char* msg);

// For the places where a second exception takes the place of the first: clears whatever is
// pending, then throws.
void throwReplacingPending(JNIEnv* env, const char* name, const char* msg);

// The exceptions the libraries raise, by the one spelling they all use.
inline void throwIOException(JNIEnv* env, const char* msg) {
    JNU_ThrowByName(env, "java/io/IOException", msg);
}
inline void throwTimeout(JNIEnv* env) {
    JNU_ThrowByName(env, "java/io/InterruptedIOException", "timeout");
}
inline void throwOutOfMemory(JNIEnv* env) {
    JNU_ThrowByName(env, "java/lang/OutOfMemoryError", nullptr);
}

}  // namespace orvela
