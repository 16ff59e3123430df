#pragma once

#include <jni.h>

#include "binding/HandleRegistry.h"
#include "core/cli/ductway/PipeInfo.h"

namespace orvela::ductway {

// The bodies shared by NamedPipeServer and NamedPipeClient; each finds obj's record in
// `pipes` (serverPipes() or clientPipes()) through obj's field "handle". A close of the object
// by another thread ends a read or write waiting on it: the read reports the end of stream,
// the write "invalid handle".

// Returns what is waiting in the pipe, or, when nothing is, the first byte that arrives
// within jTimeout milliseconds (negative: no limit). Null without exception at end of stream.
jbyteArray readPipe(JNIEnv* env, jobject obj, const HandleRegistry<PipeInfo>& pipes, jint jTimeout);

// Reads up to jLen bytes into jBuf from jOff, waiting up to jTimeout milliseconds for the
// first: the count read, 0 for jLen 0, -1 at end of stream.
jint readPipeInto(JNIEnv* env, jobject obj, const HandleRegistry<PipeInfo>& pipes, jbyteArray jBuf,
                  jint jOff, jint jLen, jint jTimeout);

// Writes jLen bytes of jBuf from jOff, waiting up to jTimeout milliseconds for completion.
void writePipe(JNIEnv* env, jobject obj, const HandleRegistry<PipeInfo>& pipes, jbyteArray jBuf,
               jint jOff, jint jLen, jint jTimeout);

// Waits until the other end has read everything written.
void flushPipe(JNIEnv* env, jobject obj, const HandleRegistry<PipeInfo>& pipes);

// Takes the record out, sets "handle" to 0 and wakes every call waiting on the pipe; the
// pipe is closed when the last of them has returned.
void closePipe(JNIEnv* env, jobject obj, HandleRegistry<PipeInfo>& pipes);

}  // namespace orvela::ductway
