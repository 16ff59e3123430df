#pragma once

#include <jni.h>

#include "binding/SharedSocket.h"

namespace orvela::lanterra {

enum class Sent {
    All,
    SystemError,  // the connection failed: the system's error number is in *err
    Thrown,       // an exception is pending
    Closed,       // another thread closed this end
};

// write0: sends bytes [off, off + len) of `array` (a range inside it), blocking as long as the
// socket has no room; a close by another thread ends that wait.
Sent sendAll(JNIEnv* env, const SharedSocket& socket, jbyteArray array, jint off, jint len,
             int* err);

}  // namespace orvela::lanterra
