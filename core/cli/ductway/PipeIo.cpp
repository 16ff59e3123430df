#include "core/cli/ductway/PipeIo.h"

#include <windows.h>

#include <memory>

#include "binding/ArrayRange.h"
#include "binding/HandleField.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"
#include "core/cli/ductway/OverlappedFailure.h"
#include "core/cli/ductway/PipeInfo.h"
#include "core/cli/ductway/PipeScratch.h"

namespace orvela {

namespace {

// The end of stream: the other end has closed (broken pipe), or the server has disconnected
// the instance, which the system reports to the client as "not connected".
bool isEndOfStream(DWORD err) {
    return err == ERROR_BROKEN_PIPE || err == ERROR_PIPE_NOT_CONNECTED;
}

}  // namespace

jbyteArray read0(JNIEnv* env, jobject obj, jint jTimeout) {
    PipeInfo pipeCopy;
    PipeInfo* p = pipeInfoOrThrow(env, obj, &pipeCopy);
    if (p == nullptr) return nullptr;
    OperationClaim claim(p->handle, &PipeInfo::readBusy);
    if (!claim.held()) {
        throwIOException(env, "Another read is in progress on this pipe.");
        return nullptr;
    }

    DWORD bytesAvail = 0;
    if (!PeekNamedPipe(p->hPipe, nullptr, 0, nullptr, &bytesAvail, nullptr)) {
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

    // ReadFile resets the copy's event (hReadEvent) itself as it starts the read. In message
    // read mode a message longer than the buffer fills it and reports ERROR_MORE_DATA: those
    // bytes are returned, the rest of the message stays for the next read.
    DWORD bytesRead = 0;
    if (ReadFile(p->hPipe, buf.get(), bytesToRead, nullptr, &p->ovRead)) {
        if (!GetOverlappedResult(p->hPipe, &p->ovRead, &bytesRead, FALSE) &&
            GetLastError() != ERROR_MORE_DATA) {
            DWORD err = GetLastError();
            if (!isEndOfStream(err)) throwIOError(env, err);
            return nullptr;
        }
    } else {
        DWORD err = GetLastError();
        if (err == ERROR_MORE_DATA) {
            GetOverlappedResult(p->hPipe, &p->ovRead, &bytesRead, FALSE);
        } else if (err != ERROR_IO_PENDING) {
            if (!isEndOfStream(err)) throwIOError(env, err);
            return nullptr;
        } else {
            OverlappedOutcome outcome = awaitOverlapped(p->hPipe, &p->ovRead, jTimeout);
            // Bytes that reached the buffer are returned, also when the read was cancelled
            // or filled the buffer with part of a longer message.
            bool gotBytes =
                outcome.transferred > 0 &&
                (outcome.kind == OverlappedOutcome::TimedOut || outcome.error == ERROR_MORE_DATA);
            if (outcome.kind != OverlappedOutcome::Done && !gotBytes) {
                if (outcome.kind == OverlappedOutcome::Failed && isEndOfStream(outcome.error)) {
                    return nullptr;
                }
                throwNotDone(env, outcome);
                return nullptr;
            }
            bytesRead = outcome.transferred;
        }
    }

    jbyteArray arr = env->NewByteArray(static_cast<jsize>(bytesRead));
    if (arr == nullptr) return nullptr;
    env->SetByteArrayRegion(arr, 0, static_cast<jsize>(bytesRead), buf.get());
    return arr;
}

void write0(JNIEnv* env, jobject obj, jbyteArray jBuf, jint jOff, jint jLen, jint jTimeout) {
    PipeInfo pipeCopy;
    PipeInfo* p = pipeInfoOrThrow(env, obj, &pipeCopy);
    if (p == nullptr) return;
    OperationClaim claim(p->handle, &PipeInfo::writeBusy);
    if (!claim.held()) {
        throwIOException(env, "Another write is in progress on this pipe.");
        return;
    }
    if (!rangeInArrayOrThrow(env, jBuf, jOff, jLen, nullptr)) return;
    PipeScratch buf(static_cast<size_t>(jLen));
    if (buf.get() == nullptr) {
        throwOutOfMemory(env);
        return;
    }
    env->GetByteArrayRegion(jBuf, jOff, jLen, buf.get());
    if (env->ExceptionCheck()) return;

    // WriteFile resets hWriteEvent itself as it starts. A write on a pipe completes whole or
    // fails, so the count is not compared with jLen; one that times out reports in
    // bytesTransferred what the peer took.
    if (WriteFile(p->hPipe, buf.get(), static_cast<DWORD>(jLen), nullptr, &p->ovWrite)) return;
    DWORD err = GetLastError();
    if (err != ERROR_IO_PENDING) {
        throwIOError(env, err);
        return;
    }
    OverlappedOutcome outcome = awaitOverlapped(p->hPipe, &p->ovWrite, jTimeout);
    if (outcome.kind != OverlappedOutcome::Done) throwNotDone(env, outcome);
}

void flush0(JNIEnv* env, jobject obj) {
    PipeInfo pipeCopy;
    PipeInfo* p = pipeInfoOrThrow(env, obj, &pipeCopy);
    if (p == nullptr) return;
    if (!FlushFileBuffers(p->hPipe)) throwIOError(env, GetLastError());
}

void close0(JNIEnv* env, jobject obj) {
    std::unique_ptr<PipeInfo> record = takeRecordOrThrow(env, obj, pipeRegistry());
    if (!record) return;
    DWORD err = record->destroy();
    record.reset();
    if (err != 0) throwIOError(env, err);
}

}  // namespace orvela
