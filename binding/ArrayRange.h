#pragma once

#include <jni.h>

#include "binding/ThrowByName.h"

namespace orvela {

// True when `len` bytes from `off` lie inside `array`. Otherwise false, with
// NullPointerException (`nullMessage`, or none) pending for a null array, or
// ArrayIndexOutOfBoundsException for a range outside it. Checked before anything is allocated
// for or sent from the range.
inline bool rangeInArrayOrThrow(JNIEnv* env, jbyteArray array, jint off, jint len,
                                const char* nullMessage) {
    if (array == nullptr) {
        throwNullPointer(env, nullMessage);
        return false;
    }
    // Written so that nothing overflows: off + len could.
    if (off < 0 || len < 0 || off > env->GetArrayLength(array) - len) {
        throwIndexOutOfBounds(env);
        return false;
    }
    return true;
}

}  // namespace orvela
