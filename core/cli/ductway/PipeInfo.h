#pragma once

#include <jni.h>
#include <windows.h>

#include <memory>

#include "binding/HandleRegistry.h"
#include "binding/SharedPipe.h"

namespace orvela::ductway {

// The native record of one pipe end, server or client. Java holds it only through the
// registry handle in the object's field "handle"; servers and clients have registries of
// their own, so a handle issued to one class reaches nothing through the other.
//
// Every operation works on a copy of the record: the copy shares the pipe (SharedPipe), which
// stays open until the last operation that uses it has returned, even when close0 runs
// meanwhile. Each operation has an overlapped block of its own on its own stack.
struct PipeInfo {
    std::shared_ptr<SharedPipe> pipe;
    // The record's own registry handle, so that an operation working on a copy can update the
    // record.
    jint handle = 0;
    // A server instance whose connect0 has handed a client to Java: the next connect0 drops
    // that client first. Cleared by disconnect0.
    bool clientHandedOut = false;
};

HandleRegistry<PipeInfo>& serverPipes();
HandleRegistry<PipeInfo>& clientPipes();

// Copies obj's record from `pipes` into *pipeInfoCopy under obj's monitor, for an operation
// on the pipe. When obj has no record there (or no "handle" field), java/io/IOException
// "invalid handle" takes the place of whatever the look-up left pending, and null is returned.
PipeInfo* pipeInfoOrThrow(JNIEnv* env, jobject obj, const HandleRegistry<PipeInfo>& pipes,
                          PipeInfo* pipeInfoCopy);

// True when `claim` is held; otherwise java/io/IOException "Another <operation> is in progress
// on this pipe." is pending.
bool claimHeldOrThrow(JNIEnv* env, const SharedPipe::Claim& claim, const char* operation);

// Sets whether the server instance of the record `copy` was taken from has a client handed out
// to Java, in the registry's record.
void markClientHandedOut(const PipeInfo& copy, bool handedOut);

// Makes a record of the newly opened `pipe` (an overlapped pipe end, which it takes over)
// in `pipes` and returns its handle. On failure the pipe is closed, the exception is pending
// and 0 is returned.
jint registerPipe(JNIEnv* env, HandleRegistry<PipeInfo>& pipes, HANDLE pipe);

}  // namespace orvela::ductway
