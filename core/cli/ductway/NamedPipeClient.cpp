// The natives of com.orvela.core.cli.NamedPipeClient: the client end of the pipe.
#include <jni.h>
#include <windows.h>

#include <memory>
#include <new>
#include <utility>

#include "binding/ScopedUtfChars.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"
#include "core/cli/ductway/PipeInfo.h"
#include "core/cli/ductway/PipeIo.h"

namespace orvela {
namespace {

// How long one pass of the open loop waits for a free instance.
constexpr DWORD kOpenWaitMillis = 5000;

// Opens the pipe `name`, waiting while every instance is taken. Returns the handle, or
// INVALID_HANDLE_VALUE with the system's code in *err.
HANDLE openPipe(const char* name, DWORD access, DWORD* err) {
    for (;;) {
        if (!WaitNamedPipeA(name, kOpenWaitMillis)) {
            *err = GetLastError();
        } else {
            // The impersonation level lets the server learn the client's user name.
            HANDLE hPipe = CreateFileA(
                name, access, 0, nullptr, OPEN_EXISTING,
                FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IMPERSONATION, nullptr);
            if (hPipe != INVALID_HANDLE_VALUE) return hPipe;
            *err = GetLastError();
        }
        // Busy: another client took the instance between the wait and the open.
        if (*err != ERROR_PIPE_BUSY) return INVALID_HANDLE_VALUE;
    }
}

}  // namespace
}  // namespace orvela

using namespace orvela;

extern "C" {

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_NamedPipeClient_create0(JNIEnv* env, jobject,
                                                                        jstring jName,
                                                                        jint jAccess) {
    ScopedUtfChars name(env, jName);
    if (!name) return 0;
    DWORD err = 0;
    HANDLE hPipe = openPipe(name.c_str(), static_cast<DWORD>(jAccess), &err);
    if (hPipe == INVALID_HANDLE_VALUE) {
        throwIOError(env, err);
        return 0;
    }
    return registerPipe(env, clientPipes(), hPipe);
}

JNIEXPORT jbyteArray JNICALL Java_com_orvela_core_cli_NamedPipeClient_read0(JNIEnv* env,
                                                                            jobject obj,
                                                                            jint jTimeout) {
    return read0(env, obj, clientPipes(), jTimeout);
}

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_NamedPipeClient_read1(JNIEnv* env, jobject obj,
                                                                      jbyteArray jBuf, jint jOff,
                                                                      jint jLen, jint jTimeout) {
    return read1(env, obj, clientPipes(), jBuf, jOff, jLen, jTimeout);
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_NamedPipeClient_write0(JNIEnv* env, jobject obj,
                                                                       jbyteArray jBuf, jint jOff,
                                                                       jint jLen, jint jTimeout) {
    write0(env, obj, clientPipes(), jBuf, jOff, jLen, jTimeout);
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_NamedPipeClient_flush0(JNIEnv* env, jobject obj) {
    flush0(env, obj, clientPipes());
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_NamedPipeClient_close0(JNIEnv* env, jobject obj) {
    close0(env, obj, clientPipes());
}

}  // extern "C"
