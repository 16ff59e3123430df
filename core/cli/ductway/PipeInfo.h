#pragma once

#include <jni.h>
#include <windows.h>

#include <memory>

#include "binding/HandleRegistry.h"

namespace orvela {

// The native record of one pipe end, server or client. Java holds it only through the
// registry handle in the object's field "handle".
//
// The OVERLAPPED fields are templates that never go to the system: each operation works on a
// copy of the whole record (pipeInfoOrThrow), so every operation has an overlapped block of its
// own on its own stack, while the events are shared by all copies. One connect, one read and
// one write may be outstanding at once; a second read or write is refused while one runs.
class PipeInfo {
  public:
    HANDLE hPipe = nullptr;
    HANDLE hConnectEvent = nullptr;
    HANDLE hReadEvent = nullptr;
    HANDLE hWriteEvent = nullptr;
    OVERLAPPED ovConnect = {};
    OVERLAPPED ovRead = {};
    OVERLAPPED ovWrite = {};
    // The record's own registry handle, so that an operation working on a copy can update the
    // record.
    jint handle = 0;
    // A server instance whose connect0 has handed a client to Java: the next connect0 drops
    // that client first. Cleared by disconnect0.
    bool clientHandedOut = false;
    // A connect0, read0 or write0 is under way on the record: a second one of the same kind
    // would share its event, see the other's completion as its own and leave its own
    // operation pending on a buffer that is gone. Set and cleared by OperationClaim.
    bool connectBusy = false;
    bool readBusy = false;
    bool writeBusy = false;

    // Creates the three manual-reset events and points the templates at them. False, with the
    // system's code in *err, when an event can't be created; destroy() releases what was made.
    bool init(DWORD* err);

    // Closes the pipe and the events, each one that is open, all of them even when one close
    // fails. Returns the code of the first failing close, 0 when all succeeded.
    DWORD destroy();
};

// Owns a record that has not reached Java yet: releases its handles, then frees it.
struct DestroyAndDelete {
    void operator()(PipeInfo* p) const {
        p->destroy();
        delete p;
    }
};
using NewPipeInfo = std::unique_ptr<PipeInfo, DestroyAndDelete>;

// The registry of every pipe record of the library.
HandleRegistry<PipeInfo>& pipeRegistry();

// Copies obj's record into *pipeInfoCopy under obj's monitor, for an operation on the pipe.
// When obj has no record (or no "handle" field), java/io/IOException "invalid handle" takes the
// place of whatever the look-up left pending, and null is returned.
PipeInfo* pipeInfoOrThrow(JNIEnv* env, jobject obj, PipeInfo* pipeInfoCopy);

// A new record with its events (init). Null, with OutOfMemoryError or the system's error
// pending, when it can't be made.
NewPipeInfo newPipeInfo(JNIEnv* env);

// Hands a new record to the registry and returns its handle. On failure (memory ran out)
// the record's handles are released, OutOfMemoryError is pending and 0 is returned.
jint registerPipeInfo(JNIEnv* env, NewPipeInfo record);

// Marks one kind of operation (connectBusy, readBusy or writeBusy) as under way on the record
// for as long as the claim lives. A claim that could not be had leaves the flag alone.
class OperationClaim {
  public:
    OperationClaim(jint handle, bool PipeInfo::*busy);
    OperationClaim(const OperationClaim&) = delete;
    OperationClaim& operator=(const OperationClaim&) = delete;
    ~OperationClaim();

    bool held() const { return held_; }

  private:
    jint handle_;
    bool PipeInfo::*busy_;
    bool held_ = false;
};

}  // namespace orvela
