// The natives of com.orvela.core.cli.NamedPipeServer: pipe instances with access control and
// the connect wait.
#include <jni.h>
#include <windows.h>

#include <memory>
#include <new>
#include <utility>

#include "binding/ScopedUtfChars.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"
#include "core/cli/ductway/OverlappedFailure.h"
#include "core/cli/ductway/PipeInfo.h"
#include "core/cli/ductway/PipeIo.h"
#include "core/cli/ductway/PipeSecurity.h"

namespace orvela {
namespace {

void markClientHandedOut(const PipeInfo& copy, bool handedOut) {
    serverPipes().update(copy.handle, [handedOut](PipeInfo& p) { p.clientHandedOut = handedOut; });
}

// What is left of a time limit of jTimeout milliseconds (-1: none) that began at `start`.
jint remainingMillis(ULONGLONG start, jint jTimeout) {
    if (jTimeout < 0) return jTimeout;
    ULONGLONG elapsed = GetTickCount64() - start;
    return elapsed >= static_cast<ULONGLONG>(jTimeout) ? 0 : static_cast<jint>(jTimeout - elapsed);
}

// Starts the connect on the copy's own overlapped block and waits for the client. Returns
// true when a client is attached; otherwise the exception is pending.
bool awaitClient(JNIEnv* env, const SharedPipe& pipe, jint jTimeout) {
    ULONGLONG start = GetTickCount64();
    for (;;) {
        if (pipe.closed()) {
            throwIOException(env, "invalid handle");
            return false;
        }
        // ConnectNamedPipe resets the kind's event itself as it starts.
        OVERLAPPED ov = pipe.overlappedFor(SharedPipe::Connect);
        if (ConnectNamedPipe(pipe.handle(), &ov)) return true;
        DWORD err = GetLastError();
        // A client opened the instance before the connect: it is attached already, and the
        // system need not signal the event for it.
        if (err == ERROR_PIPE_CONNECTED) return true;
        if (err == ERROR_NO_DATA) {
            // A client opened the instance and closed it again before the connect: nobody is
            // left to serve. The instance is freed and the wait goes on within the limit.
            if (!DisconnectNamedPipe(pipe.handle())) {
                throwIOError(env, GetLastError());
                return false;
            }
            if (remainingMillis(start, jTimeout) == 0) {
                throwTimeout(env);
                return false;
            }
            continue;
        }
        if (err != ERROR_IO_PENDING) {
            throwIllegalArgumentError(env, err);
            return false;
        }
        OverlappedOutcome outcome = pipe.await(&ov, remainingMillis(start, jTimeout));
        if (outcome.kind == OverlappedOutcome::Done) return true;
        throwNotDone(env, outcome);
        return false;
    }
}

}  // namespace
}  // namespace orvela

using namespace orvela;

extern "C" {

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_NamedPipeServer_create0(
    JNIEnv* env, jobject, jstring jName, jint jOpenMode, jint jPipeMode, jint jMaxInstances,
    jint jOutBufSize, jint jInBufSize, jint jDefaultTimeout) {
    ScopedUtfChars name(env, jName);
    if (!name) return 0;
    PipeSecurity security;
    if (!security.build(env)) return 0;

    HANDLE hPipe =
        CreateNamedPipeA(name.c_str(), static_cast<DWORD>(jOpenMode) | FILE_FLAG_OVERLAPPED,
                         static_cast<DWORD>(jPipeMode), static_cast<DWORD>(jMaxInstances),
                         static_cast<DWORD>(jOutBufSize), static_cast<DWORD>(jInBufSize),
                         static_cast<DWORD>(jDefaultTimeout), security.attributes());
    if (hPipe == INVALID_HANDLE_VALUE) {
        throwIllegalArgumentError(env, GetLastError());
        return 0;
    }
    return registerPipe(env, serverPipes(), hPipe);
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_NamedPipeServer_connect0(JNIEnv* env, jobject obj,
                                                                         jint jTimeout) {
    PipeInfo pipeCopy;
    PipeInfo* p = pipeInfoOrThrow(env, obj, serverPipes(), &pipeCopy);
    if (p == nullptr) return;
    SharedPipe& pipe = *p->pipe;
    SharedPipe::Claim claim(pipe, SharedPipe::Connect);
    if (!claim.held()) {
        throwIOException(env, "Another connect is in progress on this pipe.");
        return;
    }
    // Only a client that an earlier connect0 handed out is dropped: one that opened the
    // instance since then came for this connect.
    if (p->clientHandedOut) {
        DisconnectNamedPipe(pipe.handle());
        markClientHandedOut(*p, false);
    }
    if (awaitClient(env, pipe, jTimeout)) {
        markClientHandedOut(*p, true);
        return;
    }
    // The instance is left free for the next connect0.
    DisconnectNamedPipe(pipe.handle());
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_NamedPipeServer_disconnect0(JNIEnv* env,
                                                                            jobject obj) {
    PipeInfo pipeCopy;
    PipeInfo* p = pipeInfoOrThrow(env, obj, serverPipes(), &pipeCopy);
    if (p == nullptr) return;
    if (!DisconnectNamedPipe(p->pipe->handle())) {
        throwIOError(env, GetLastError());
        return;
    }
    markClientHandedOut(*p, false);
}

JNIEXPORT jstring JNICALL Java_com_orvela_core_cli_NamedPipeServer_getClientUserName0(JNIEnv* env,
                                                                                      jobject obj) {
    PipeInfo pipeCopy;
    PipeInfo* p = pipeInfoOrThrow(env, obj, serverPipes(), &pipeCopy);
    if (p == nullptr) return nullptr;
    char name[255] = {};
    if (!GetNamedPipeHandleStateA(p->pipe->handle(), nullptr, nullptr, nullptr, nullptr, name,
                                  sizeof(name))) {
        throwIOError(env, GetLastError());
        return nullptr;
    }
    name[sizeof(name) - 1] = '\0';
    return env->NewStringUTF(name);
}

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_NamedPipeServer_getCurrentInstances0(JNIEnv* env,
                                                                                     jobject obj) {
    PipeInfo pipeCopy;
    PipeInfo* p = pipeInfoOrThrow(env, obj, serverPipes(), &pipeCopy);
    if (p == nullptr) return 0;
    DWORD instances = 0;
    if (!GetNamedPipeHandleStateA(p->pipe->handle(), nullptr, &instances, nullptr, nullptr, nullptr,
                                  0)) {
        throwIOError(env, GetLastError());
        return 0;
    }
    return static_cast<jint>(instances);
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_NamedPipeServer_close0(JNIEnv* env, jobject obj) {
    close0(env, obj, serverPipes());
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_NamedPipeServer_flush0(JNIEnv* env, jobject obj) {
    flush0(env, obj, serverPipes());
}

JNIEXPORT jbyteArray JNICALL Java_com_orvela_core_cli_NamedPipeServer_read0(JNIEnv* env,
                                                                            jobject obj,
                                                                            jint jTimeout) {
    return read0(env, obj, serverPipes(), jTimeout);
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_NamedPipeServer_write0(JNIEnv* env, jobject obj,
                                                                       jbyteArray jBuf, jint jOff,
                                                                       jint jLen, jint jTimeout) {
    write0(env, obj, serverPipes(), jBuf, jOff, jLen, jTimeout);
}

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_NamedPipeServer_read1(JNIEnv* env, jobject obj,
                                                                      jbyteArray jBuf, jint jOff,
                                                                      jint jLen, jint jTimeout) {
    return read1(env, obj, serverPipes(), jBuf, jOff, jLen, jTimeout);
}

}  // extern "C"
