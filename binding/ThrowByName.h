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
constexpr const char* kIOException = "java/io/IOException";
constexpr const char* kInterruptedIOException = "java/io/InterruptedIOException";
constexpr const char* kNullPointerException = "java/lang/NullPointerException";
constexpr const char* kIndexOutOfBoundsException = "java/lang/ArrayIndexOutOfBoundsException";
constexpr const char* kIllegalArgumentException = "java/lang/IllegalArgumentException";
constexpr const char* kOutOfMemoryError = "java/lang/OutOfMemoryError";

inline void throwIOException(JNIEnv* env, const char* msg) {
    JNU_ThrowByName(env, kIOException, msg);
}
// The same, taking the place of whatever is pending.
inline void throwIOExceptionReplacing(JNIEnv* env, const char* msg) {
    throwReplacingPending(env, kIOException, msg);
}
inline void throwTimeout(JNIEnv* env) {
    JNU_ThrowByName(env, kInterruptedIOException, "timeout");
}
// `what` names the argument that was null; null gives an exception without a message.
inline void throwNullPointer(JNIEnv* env, const char* what) {
    JNU_ThrowByName(env, kNullPointerException, what);
}
// An offset and length that don't fit the array they index.
inline void throwIndexOutOfBounds(JNIEnv* env) {
    JNU_ThrowByName(env, kIndexOutOfBoundsException, nullptr);
}
inline void throwOutOfMemory(JNIEnv* env) {
    JNU_ThrowByName(env, kOutOfMemoryError, nullptr);
}

}  // namespace orvela
