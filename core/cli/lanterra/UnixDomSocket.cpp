// The natives of com.orvela.core.cli.UnixDomSocket: one connection of the local command-line
// channel, made by a client (create0(String)) or handed over by the server's accept0.
#include <jni.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "binding/ArrayRange.h"
#include "binding/DebugLine.h"
#include "binding/ScopedUtfChars.h"
#include "binding/SharedSocket.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"
#include "core/cli/lanterra/ClientConnect.h"
#include "core/cli/lanterra/ClientIdentity.h"
#include "core/cli/lanterra/ClientPath.h"
#include "core/cli/lanterra/SocketPeers.h"
#include "core/cli/lanterra/SocketReads.h"
#include "core/cli/lanterra/SocketWrites.h"

using namespace orvela;
using namespace orvela::lanterra;

extern "C" {

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_UnixDomSocket_create0__I(JNIEnv* env, jobject,
                                                                         jint handle) {
    std::unique_ptr<ServerSocketPeer> handOver = handOverPeers().remove(handle);
    if (!handOver) {
        throwIOException(env, "Invalid handle");
        return 0;
    }
    // Taking the hand-over record takes its connection: closed here unless a record holds it.
    jint socketHandle = addSocketPeer(std::move(handOver->sock), handOver->uid);
    if (socketHandle == 0) throwOutOfMemory(env);
    return socketHandle;
}

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_UnixDomSocket_create0__Ljava_lang_String_2(
    JNIEnv* env, jobject, jstring jPath) {
    ScopedUtfChars path(env, jPath, "path");
    if (!path) return 0;
    std::string clientPath;
    std::shared_ptr<SharedSocket> connected = connectToServer(env, path.c_str(), &clientPath);
    if (!connected) return 0;
    jint handle = addSocketPeer(std::move(connected), kNoUid);
    if (handle == 0) {
        ::unlink(clientPath.c_str());
        throwOutOfMemory(env);
    }
    return handle;
}

JNIEXPORT jstring JNICALL Java_com_orvela_core_cli_UnixDomSocket_getClientIdentity0(JNIEnv* env,
                                                                                    jobject obj) {
    SocketPeer peer;
    if (socketPeerOrThrow(env, obj, &peer) == nullptr) return nullptr;
    std::string name;
    if (peer.uid == kNoUid || !lookUpUserName(peer.uid, &name)) {
        throwIOException(env, "getpwuid_r() error");
        return nullptr;
    }
    debugLine(2, "getpwuid_r uid: %ld name %s\n", peer.uid, name.c_str());
    return env->NewStringUTF(name.c_str());
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_UnixDomSocket_setSoTimeout0(JNIEnv* env,
                                                                            jobject obj,
                                                                            jint jTimeout) {
    setTimeoutOf(env, obj, socketPeers(), jTimeout);
}

JNIEXPORT jbyteArray JNICALL Java_com_orvela_core_cli_UnixDomSocket_read0(JNIEnv* env,
                                                                          jobject obj) {
    SocketPeer peer;
    if (socketPeerOrThrow(env, obj, &peer) == nullptr) return nullptr;
    debugLine(1, "reading from socket\n");
    return readBytes(env, *peer.conn, peer.timeout);
}

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_UnixDomSocket_read1(JNIEnv* env, jobject obj,
                                                                    jbyteArray jBuf, jint jOff,
                                                                    jint jLen) {
    SocketPeer peer;
    if (socketPeerOrThrow(env, obj, &peer) == nullptr) return 0;
    debugLine(1, "reading from socket\n");
    if (!rangeInArrayOrThrow(env, jBuf, jOff, jLen, "buffer")) return 0;
    if (jLen == 0) return 0;
    return readInto(env, *peer.conn, peer.timeout, jBuf, jOff, jLen);
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_UnixDomSocket_write0(JNIEnv* env, jobject obj,
                                                                     jbyteArray jBuf, jint jOff,
                                                                     jint jLen) {
    SocketPeer peer;
    if (socketPeerOrThrow(env, obj, &peer) == nullptr) return;
    debugLine(1, "writing %i bytes\n", jLen);
    if (!rangeInArrayOrThrow(env, jBuf, jOff, jLen, "buffer")) return;
    int err = 0;
    switch (sendAll(env, peer.conn->socket(), jBuf, jOff, jLen, &err)) {
        case Sent::All:
            break;
        case Sent::SystemError:
            throwIOError(env, err);
            return;
        case Sent::Closed:
            throwIOException(env, "Invalid handle");
            return;
        case Sent::Thrown:
            return;
    }
    debugLine(1, "write finished\n");
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_UnixDomSocket_flush0(JNIEnv* env, jobject obj) {
    // Nothing is buffered at this layer; only the handle is checked.
    SocketPeer peer;
    socketPeerOrThrow(env, obj, &peer);
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_UnixDomSocket_close0(JNIEnv* env, jobject obj) {
    closeRecordOf(env, obj, socketPeers());
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_UnixDomSocket_cleanup0(JNIEnv* env, jobject obj) {
    // The file goes whatever the handle: cleanup0 follows close0, which leaves 0 in the field and
    // is no failure; any other value that designates no connection is.
    bool validHandle = closedOrLiveSocket(env, obj);
    std::string clientPath = clientPathName();
    debugLine(2, "About to unlink %s\n", clientPath.c_str());
    if (!clientPath.empty()) ::unlink(clientPath.c_str());
    if (!validHandle) throwIOExceptionReplacing(env, "Invalid handle");
}

}  // extern "C"
