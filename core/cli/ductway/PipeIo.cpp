#include "core/cli/ductway/PipeIo.h"

#include <windows.h>

#include <algorithm>
#include <memory>

#include "binding/ArrayRange.h"
#include "binding/HandleField.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"
#include "core/cli/ductway/OverlappedFailure.h"
#include "core/cli/ductway/PipeDeadline.h"
#include "core/cli/ductway/PipeScratch.h"

namespace orvela::ductway {

namespace {

// The end of stream: the other end has closed (broken pipe), or the server has disconnected
// the instance, which the system reports to the client as "not connected".
bool isEndOfStream(DWORD err) {
    return err == ERROR_BROKEN_PIPE || err == ERROR_PIPE_NOT_CONNECTED;
}

enum class ReadEnd { Bytes, EndOfStream, Thrown };

// One read of up to `size` bytes into `buf`, waiting until `deadline` for the first. In message
// read mode a message longer than the buffer fills it (ERROR_MORE_DATA): those bytes count, the
// rest of the message stays for the next read. A close of the pipe counts as the end of stream.
ReadEnd readOnce(JNIEnv* env, const SharedPipe& pipe, jbyte* buf, DWORD size,
                 const Deadline& deadline, DWORD* bytesRead) {
    if (pipe.closed()) return ReadEnd::EndOfStream;
    // ReadFile resets the kind's event itself as it starts the read.
    OVERLAPPED ov = pipe.overlappedFor(SharedPipe::Read);
    if (ReadFile(pipe.handle(), buf, size, nullptr, &ov)) {
        if (GetOverlappedResult(pipe.handle(), &ov, bytesRead, FALSE)) return ReadEnd::Bytes;
    }
    DWORD err = GetLastError();
    if (err == ERROR_MORE_DATA) {
        GetOverlappedResult(pipe.handle(), &ov, bytesRead, FALSE);
        return ReadEnd::Bytes;
    }
    if (err != ERROR_IO_PENDING) {
        if (isEndOfStream(err)) return ReadEnd::EndOfStream;
        throwIOError(env, err);
        return ReadEnd::Thrown;
    }
    OverlappedOutcome outcome = pipe.await(&ov, deadline);
    *bytesRead = outcome.transferred;
    // Bytes that reached the buffer are returned, also when the read was cancelled or filled
    // the buffer with part of a longer message.
    if (outcome.kind == OverlappedOutcome::Done) return ReadEnd::Bytes;
    if (outcome.transferred > 0 &&
        (outcome.kind != OverlappedOutcome::Failed || outcome.error == ERROR_MORE_DATA)) {
        return ReadEnd::Bytes;
    }
    if (outcome.kind == OverlappedOutcome::Woken ||
        (outcome.kind == OverlappedOutcome::Failed && isEndOfStream(outcome.error))) {
        return ReadEnd::EndOfStream;
    }
    throwNotDone(env, outcome);
    return ReadEnd::Thrown;
}

}  // namespace

jbyteArray readPipe(JNIEnv* env, jobject obj, const HandleRegistry<PipeInfo>& pipes,
                    jint jTimeout) {
    PipeInfo pipeCopy;
    PipeInfo* p = pipeInfoOrThrow(env, obj, pipes, &pipeCopy);
    if (p == nullptr) return nullptr;
    SharedPipe& pipe = *p->pipe;
    SharedPipe::Claim claim(pipe, SharedPipe::Read);
    if (!claimHeldOrThrow(env, claim, "read")) return nullptr;

    DWORD bytesAvail = 0;
    if (!PeekNamedPipe(pipe.handle(), nullptr, 0, nullptr, &bytesAvail, nullptr)) {
        DWORD err = GetLastError();
        if (!isEndOfStream(err)) throwIOError(env, err);
        return nullptr;
    }
    DWORD bytesToRead = bytesAvail != 0 ? bytesAvail : 1;
    // The array handed to Java can hold no more than a jint counts.
    if (bytesToRead > 0x7fffffffu) bytesToRead = 0x7fffffffu;
    PipeScratch buf(bytesToRead);
    if (buf.get() == nullptr) {
        throwOutOfMemory(env);
        return nullptr;
    }
    // The array is made before anything is taken from the pipe: when the VM has no room for
    // it, the bytes stay in the pipe for the next read instead of being lost.
    jbyteArray arr = env->NewByteArray(static_cast<jsize>(bytesToRead));
    if (arr == nullptr) return nullptr;
    DWORD bytesRead = 0;
    if (readOnce(env, pipe, buf.get(), bytesToRead, pipeDeadline(jTimeout), &bytesRead) !=
        ReadEnd::Bytes) {
        return nullptr;
    }
    // Fewer bytes than were waiting: a message read mode's shorter message, or a read cut short.
    if (bytesRead != bytesToRead) {
        env->DeleteLocalRef(arr);
        arr = env->NewByteArray(static_cast<jsize>(bytesRead));
        if (arr == nullptr) return nullptr;
    }
    env->SetByteArrayRegion(arr, 0, static_cast<jsize>(bytesRead), buf.get());
    return arr;
}

jint readPipeInto(JNIEnv* env, jobject obj, const HandleRegistry<PipeInfo>& pipes, jbyteArray jBuf,
                  jint jOff, jint jLen, jint jTimeout) {
    PipeInfo pipeCopy;
    PipeInfo* p = pipeInfoOrThrow(env, obj, pipes, &pipeCopy);
    if (p == nullptr) return -1;
    if (!rangeInArrayOrThrow(env, jBuf, jOff, jLen, nullptr)) return -1;
    if (jLen == 0) return 0;
    SharedPipe& pipe = *p->pipe;
    SharedPipe::Claim claim(pipe, SharedPipe::Read);
    if (!claimHeldOrThrow(env, claim, "read")) return -1;
    // One pending read of the caller's length (up to what a thread keeps), without peeking:
    // the system completes it with whatever has arrived.
    DWORD size = static_cast<DWORD>(std::min<size_t>(static_cast<size_t>(jLen), kPipeScratchLimit));
    PipeScratch buf(size);
    if (buf.get() == nullptr) {
        throwOutOfMemory(env);
        return -1;
    }
    DWORD bytesRead = 0;
    ReadEnd end = readOnce(env, pipe, buf.get(), size, pipeDeadline(jTimeout), &bytesRead);
    if (end != ReadEnd::Bytes) return -1;
    // A zero-byte message in message read mode reads as nothing, not as the end.
    env->SetByteArrayRegion(jBuf, jOff, static_cast<jsize>(bytesRead), buf.get());
    return static_cast<jint>(bytesRead);
}

void writePipe(JNIEnv* env, jobject obj, const HandleRegistry<PipeInfo>& pipes, jbyteArray jBuf,
               jint jOff, jint jLen, jint jTimeout) {
    PipeInfo pipeCopy;
    PipeInfo* p = pipeInfoOrThrow(env, obj, pipes, &pipeCopy);
    if (p == nullptr) return;
    SharedPipe& pipe = *p->pipe;
    SharedPipe::Claim claim(pipe, SharedPipe::Write);
    if (!claimHeldOrThrow(env, claim, "write")) return;
    if (!rangeInArrayOrThrow(env, jBuf, jOff, jLen, nullptr)) return;
    PipeScratch buf(static_cast<size_t>(jLen));
    if (buf.get() == nullptr) {
        throwOutOfMemory(env);
        return;
    }
    env->GetByteArrayRegion(jBuf, jOff, jLen, buf.get());
    if (env->ExceptionCheck()) return;
    if (pipe.closed()) {
        throwIOException(env, "invalid handle");
        return;
    }

    // WriteFile resets the kind's event itself as it starts. A write on a pipe completes
    // whole or fails, so the count is not compared with jLen; one that times out reports in
    // bytesTransferred what the peer took.
    OVERLAPPED ov = pipe.overlappedFor(SharedPipe::Write);
    if (WriteFile(pipe.handle(), buf.get(), static_cast<DWORD>(jLen), nullptr, &ov)) return;
    DWORD err = GetLastError();
    if (err != ERROR_IO_PENDING) {
        throwIOError(env, err);
        return;
    }
    OverlappedOutcome outcome = pipe.await(&ov, pipeDeadline(jTimeout));
    if (outcome.kind != OverlappedOutcome::Done) throwNotDone(env, outcome);
}

void flushPipe(JNIEnv* env, jobject obj, const HandleRegistry<PipeInfo>& pipes) {
    PipeInfo pipeCopy;
    PipeInfo* p = pipeInfoOrThrow(env, obj, pipes, &pipeCopy);
    if (p == nullptr) return;
    if (!FlushFileBuffers(p->pipe->handle())) throwIOError(env, GetLastError());
}

void closePipe(JNIEnv* env, jobject obj, HandleRegistry<PipeInfo>& pipes) {
    std::unique_ptr<PipeInfo> record = takeRecordOrThrow(env, obj, pipes);
    if (!record) return;
    record->pipe->close();
}

}  // namespace orvela::ductway
