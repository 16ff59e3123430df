// The natives of com.orvela.core.cli.NamedPipeServer: pipe instances with access control and
// the connect wait.
#include <jni.h>
#include <windows.h>

#include "binding/ScopedUtfChars.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"
#include "core/cli/ductway/PipeConnect.h"
#include "core/cli/ductway/PipeDeadline.h"
#include "core/cli/ductway/PipeInfo.h"
#include "core/cli/ductway/PipeIo.h"
#include "core/cli/ductway/PipeSecurity.h"

using namespace orvela;
using namespace orvela::ductway;

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
        throwIllegalArgumentWithSystemText(env, GetLastError());
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
    if (!claimHeldOrThrow(env, claim, "connect")) return;
    // Only a client that an earlier connect0 handed out is dropped: one that opened the
    // instance since then came for this connect.
    if (p->clientHandedOut) {
        DisconnectNamedPipe(pipe.handle());
        markClientHandedOut(*p, false);
    }
    if (awaitClient(env, pipe, pipeDeadline(jTimeout))) {
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
    closePipe(env, obj, serverPipes());
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_NamedPipeServer_flush0(JNIEnv* env, jobject obj) {
    flushPipe(env, obj, serverPipes());
}

JNIEXPORT jbyteArray JNICALL Java_com_orvela_core_cli_NamedPipeServer_read0(JNIEnv* env,
                                                                            jobject obj,
                                                                            jint jTimeout) {
    return readPipe(env, obj, serverPipes(), jTimeout);
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_NamedPipeServer_write0(JNIEnv* env, jobject obj,
                                                                       jbyteArray jBuf, jint jOff,
                                                                       jint jLen, jint jTimeout) {
    writePipe(env, obj, serverPipes(), jBuf, jOff, jLen, jTimeout);
}

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_NamedPipeServer_read1(JNIEnv* env, jobject obj,
                                                                      jbyteArray jBuf, jint jOff,
                                                                      jint jLen, jint jTimeout) {
    return readPipeInto(env, obj, serverPipes(), jBuf, jOff, jLen, jTimeout);
}

}  // extern "C"
