#pragma once

#include <jni.h>

#include "core/cli/lanterra/Connection.h"

namespace orvela::lanterra {

// The reads of a connection, within `timeout` milliseconds (0 or less: no limit). Without a
// limit, a blocking recv takes the bytes or waits for them (a close by another thread ends that
// wait with the end of the stream). With one, what is queued is taken at once; only an empty
// socket is waited on, and a wait whose bytes another reader took is followed by another for
// the rest of the limit.

// read0: what is queued (bytes an earlier read0 could not hand over first, then up to 256 KiB)
// as a new array; null at the end of the stream, or with an exception pending.
jbyteArray readBytes(JNIEnv* env, Connection& conn, int timeout);

// read1: up to `len` bytes into [off, off + len) of `array` (a range inside it, len > 0); the
// count, -1 at the end of the stream, or 0 with an exception pending.
jint readInto(JNIEnv* env, Connection& conn, int timeout, jbyteArray array, jint off, jint len);

}  // namespace orvela::lanterra
