// The natives of com.orvela.core.cli.NamedPipeClient: the client end of the pipe.
#include <jni.h>
#include <windows.h>

#include "binding/ScopedUtfChars.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"
#include "core/cli/ductway/PipeInfo.h"
#include "core/cli/ductway/PipeIo.h"
#include "core/cli/ductway/PipeOpen.h"

using namespace orvela;
using namespace orvela::ductway;

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
    return readPipe(env, obj, clientPipes(), jTimeout);
}

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_NamedPipeClient_read1(JNIEnv* env, jobject obj,
                                                                      jbyteArray jBuf, jint jOff,
                                                                      jint jLen, jint jTimeout) {
    return readPipeInto(env, obj, clientPipes(), jBuf, jOff, jLen, jTimeout);
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_NamedPipeClient_write0(JNIEnv* env, jobject obj,
                                                                       jbyteArray jBuf, jint jOff,
                                                                       jint jLen, jint jTimeout) {
    writePipe(env, obj, clientPipes(), jBuf, jOff, jLen, jTimeout);
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_NamedPipeClient_flush0(JNIEnv* env, jobject obj) {
    flushPipe(env, obj, clientPipes());
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_NamedPipeClient_close0(JNIEnv* env, jobject obj) {
    closePipe(env, obj, clientPipes());
}

}  // extern "C"
