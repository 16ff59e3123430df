#include "core/cli/ductway/PipeInfo.h"

#include <memory>
#include <new>

#include "binding/HandleField.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"

namespace orvela {

namespace {

HANDLE createManualResetEvent(DWORD* err) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr && *err == 0) *err = GetLastError();
    return event;
}

void closeNoting(HANDLE* handle, DWORD* firstErr) {
    if (*handle == nullptr) return;
    if (!CloseHandle(*handle) && *firstErr == 0) *firstErr = GetLastError();
    *handle = nullptr;
}

}  // namespace

bool PipeInfo::init(DWORD* err) {
    *err = 0;
    hPipe = nullptr;
    hReadEvent = createManualResetEvent(err);
    hWriteEvent = createManualResetEvent(err);
    hConnectEvent = createManualResetEvent(err);
    ovRead = {};
    ovWrite = {};
    ovConnect = {};
    ovRead.hEvent = hReadEvent;
    ovWrite.hEvent = hWriteEvent;
    ovConnect.hEvent = hConnectEvent;
    return *err == 0;
}

DWORD PipeInfo::destroy() {
    DWORD firstErr = 0;
    closeNoting(&hPipe, &firstErr);
    closeNoting(&hConnectEvent, &firstErr);
    closeNoting(&hReadEvent, &firstErr);
    closeNoting(&hWriteEvent, &firstErr);
    return firstErr;
}

HandleRegistry<PipeInfo>& pipeRegistry() {
    static HandleRegistry<PipeInfo> registry;
    return registry;
}

PipeInfo* pipeInfoOrThrow(JNIEnv* env, jobject obj, PipeInfo* pipeInfoCopy) {
    return copyRecordOrThrow(env, obj, pipeRegistry(), pipeInfoCopy, "invalid handle");
}

NewPipeInfo newPipeInfo(JNIEnv* env) {
    NewPipeInfo p(new (std::nothrow) PipeInfo);
    if (!p) {
        throwOutOfMemory(env);
        return nullptr;
    }
    DWORD err = 0;
    if (!p->init(&err)) {
        throwIOError(env, err);
        return nullptr;
    }
    return p;
}

jint registerPipeInfo(JNIEnv* env, NewPipeInfo record) {
    // The registry frees a record it can't take; a copy keeps the handles to release then.
    PipeInfo handles = *record;
    jint handle = pipeRegistry().add(std::unique_ptr<PipeInfo>(record.release()));
    if (handle == 0) {
        handles.destroy();
        throwOutOfMemory(env);
        return 0;
    }
    pipeRegistry().update(handle, [handle](PipeInfo& p) { p.handle = handle; });
    return handle;
}

OperationClaim::OperationClaim(jint handle, bool PipeInfo::*busy) : handle_(handle), busy_(busy) {
    pipeRegistry().update(handle_, [this](PipeInfo& p) {
        if (p.*busy_) return;
        p.*busy_ = true;
        held_ = true;
    });
}

OperationClaim::~OperationClaim() {
    if (held_) pipeRegistry().update(handle_, [this](PipeInfo& p) { p.*busy_ = false; });
}

}  // namespace orvela
