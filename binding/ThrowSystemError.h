#pragma once

#include <jni.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "binding/ThrowByName.h"

namespace orvela {

// The number a failed system call leaves: errno on POSIX, GetLastError() on Windows. Callers
// take it right after the call and pass it on, so nothing in between can change it.
#if defined(_WIN32)
using SystemError = DWORD;
#else
using SystemError = int;
#endif

// Throws `className` with the system's text for `err` (on Windows with its line break). A code
// without system text gives an exception without a message. Link orvela_binding_throw and
// orvela_binding_errtext.
void throwSystemError(JNIEnv* env, const char* className, SystemError err);

// The same, for the places where this exception takes the place of one already pending.
void throwSystemErrorReplacing(JNIEnv* env, const char* className, SystemError err);

// java/io/IOException with the system's text for `err`: the usual way a failed call reaches
// Java.
inline void throwIOError(JNIEnv* env, SystemError err) {
    throwSystemError(env, kIOException, err);
}

// java/lang/IllegalArgumentException with the system's text for `err`.
inline void throwIllegalArgumentWithSystemText(JNIEnv* env, SystemError err) {
    throwSystemError(env, kIllegalArgumentException, err);
}

}  // namespace orvela
