#pragma once

#include <jni.h>

namespace orvela {

// The bodies shared by NamedPipeServer and NamedPipeClient; each finds its record through
// obj's field "handle".

// Returns what is waiting in the pipe, or, when nothing is, the first byte that arrives
// within jTimeout milliseconds (-1: no limit). Null without exception at end of stream.
jbyteArray read0(JNIEnv* env, jobject obj, jint jTimeout);

// Writes jLen bytes of jBuf from jOff, waiting up to jTimeout milliseconds for completion.
void write0(JNIEnv* env, jobject obj, jbyteArray jBuf, jint jOff, jint jLen, jint jTimeout);

// Waits until the other end has read everything written.
void flush0(JNIEnv* env, jobject obj);

// Releases the record and sets "handle" to 0.
void close0(JNIEnv* env, jobject obj);

}  // namespace orvela
