#pragma once

#include <jni.h>
#include <windows.h>

namespace orvela {

// Throws `className` with the system's text for `err`, then releases the text (text, throw,
// LocalFree). A code without system text gives an exception without a message.
void throwSystemError(JNIEnv* env, const char* className, DWORD err);

// The same, for the places where this exception takes the place of one already pending.
void throwSystemErrorReplacing(JNIEnv* env, const char* className, DWORD err);

// java/io/IOException with the system's text for `err`: the usual way a failed call reaches
// Java.
inline void throwIOError(JNIEnv* env, DWORD err) {
    throwSystemError(env, "java/io/IOException", err);
}

}  // namespace orvela
