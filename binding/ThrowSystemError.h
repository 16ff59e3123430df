#pragma once

#include <jni.h>
#include <windows.h>

#include "binding/LastErrorMsg.h"
#include "binding/ScopedLocalFree.h"
#include "binding/ThrowByName.h"

namespace orvela {

// Throws `name` with the system's text for `err` (line break included), or without a message
// when the system has no text for it. The text is released after the throw. Link
// orvela_binding_throw and orvela_binding_errtext.
inline void throwSystemError(JNIEnv* env, const char* name, DWORD err) {
    ScopedLocalFree<char> text(getLastErrorMsg(err));
    JNU_ThrowByName(env, name, text.get());
}

// The same for an IOException, the usual case.
inline void throwSystemIOException(JNIEnv* env, DWORD err) {
    throwSystemError(env, "java/io/IOException", err);
}

}  // namespace orvela
