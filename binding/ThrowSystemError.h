#pragma once

#include <jni.h>
#include <windows.h>

#include "binding/LastErrorMsg.h"
#include "binding/ScopedLocalFree.h"
#include "binding/ThrowByName.h"

namespace orvela {

// Throws `className` with the system's text for `err` (line break included), then releases
// the text: text, throw, LocalFree. A code without system text gives an exception without a
// message. Link orvela_binding_throw and orvela_binding_errtext.
inline void throwSystemError(JNIEnv* env, const char* className, DWORD err) {
    ScopedLocalFree<char> text(getLastErrorMsg(err));
    JNU_ThrowByName(env, className, text.get());
}

// The same, for the places where this exception takes the place of one already pending.
inline void throwSystemErrorReplacing(JNIEnv* env, const char* className, DWORD err) {
    ScopedLocalFree<char> text(getLastErrorMsg(err));
    throwReplacingPending(env, className, text.get());
}

// java/io/IOException with the system's text for `err`: the usual way a failed call reaches
// Java.
inline void throwIOError(JNIEnv* env, DWORD err) {
    throwSystemError(env, "java/io/IOException", err);
}

}  // namespace orvela
