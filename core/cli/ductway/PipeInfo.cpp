#include "core/cli/ductway/PipeInfo.h"

#include <cstdio>
#include <memory>
#include <new>

#include "binding/HandleField.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"

namespace orvela::ductway {

HandleRegistry<PipeInfo>& serverPipes() {
    static HandleRegistry<PipeInfo> registry;
    return registry;
}

HandleRegistry<PipeInfo>& clientPipes() {
    static HandleRegistry<PipeInfo> registry;
    return registry;
}

PipeInfo* pipeInfoOrThrow(JNIEnv* env, jobject obj, const HandleRegistry<PipeInfo>& pipes,
                          PipeInfo* pipeInfoCopy) {
    return copyRecordOrThrow(env, obj, pipes, pipeInfoCopy, "invalid handle");
}

bool claimHeldOrThrow(JNIEnv* env, const SharedPipe::Claim& claim, const char* operation) {
    if (claim.held()) return true;
    char message[64];
    std::snprintf(message, sizeof message, "Another %s is in progress on this pipe.", operation);
    throwIOException(env, message);
    return false;
}

void markClientHandedOut(const PipeInfo& copy, bool handedOut) {
    serverPipes().update(copy.handle, [handedOut](PipeInfo& p) { p.clientHandedOut = handedOut; });
}

jint registerPipe(JNIEnv* env, HandleRegistry<PipeInfo>& pipes, HANDLE pipe) {
    DWORD err = 0;
    std::shared_ptr<SharedPipe> shared = SharedPipe::adopt(pipe, &err);
    if (!shared) {
        if (err == ERROR_NOT_ENOUGH_MEMORY) {
            throwOutOfMemory(env);
        } else {
            throwIOError(env, err);
        }
        return 0;
    }
    std::unique_ptr<PipeInfo> record(new (std::nothrow) PipeInfo);
    if (!record) {
        throwOutOfMemory(env);
        return 0;
    }
    record->pipe = std::move(shared);
    // The registry frees a record it can't take, and the pipe with it.
    jint handle = pipes.add(std::move(record));
    if (handle == 0) {
        throwOutOfMemory(env);
        return 0;
    }
    pipes.update(handle, [handle](PipeInfo& p) { p.handle = handle; });
    return handle;
}

}  // namespace orvela::ductway
