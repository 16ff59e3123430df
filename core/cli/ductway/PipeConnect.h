#pragma once

#include <jni.h>

#include "binding/Deadline.h"
#include "binding/SharedPipe.h"

namespace orvela::ductway {

// Starts the connect of the server instance `pipe` on an overlapped block of its own and waits
// until `deadline` for a client. Returns true when a client is attached; otherwise the
// exception is pending.
bool awaitClient(JNIEnv* env, const SharedPipe& pipe, const Deadline& deadline);

}  // namespace orvela::ductway
