#pragma once

#include <jni.h>
#include <windows.h>

#include "binding/OverlappedWait.h"

namespace orvela::ductway {

// Reports an outcome other than Done: java/io/InterruptedIOException "timeout" whose
// bytesTransferred is the outcome's count, java/io/IOException "invalid handle" when the pipe
// was closed under the wait, or java/io/IOException with the system's text.
void throwNotDone(JNIEnv* env, const OverlappedOutcome& outcome);

}  // namespace orvela::ductway
