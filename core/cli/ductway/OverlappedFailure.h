#pragma once

#include <jni.h>
#include <windows.h>

#include "binding/OverlappedWait.h"

namespace orvela {

// Reports an outcome other than Done: java/io/InterruptedIOException "timeout" whose
// bytesTransferred is the outcome's count, or java/io/IOException with the system's text.
void throwNotDone(JNIEnv* env, const OverlappedOutcome& outcome);

}  // namespace orvela
