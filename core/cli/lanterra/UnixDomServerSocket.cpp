// The natives of com.orvela.core.cli.UnixDomServerSocket: the listening end of the local
// command-line channel, which accepts clients and establishes the user each runs as.
#include <jni.h>

#include <memory>
#include <string>

#include "binding/DebugLine.h"
#include "binding/ScopedFd.h"
#include "binding/ScopedLocalRef.h"
#include "binding/ScopedUtfChars.h"
#include "binding/SharedSocket.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"
#include "core/cli/lanterra/ClientIdentity.h"
#include "core/cli/lanterra/Listener.h"
#include "core/cli/lanterra/SocketPeers.h"

using namespace orvela;
using namespace orvela::lanterra;

extern "C" {

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_UnixDomServerSocket_create0(JNIEnv* env, jobject,
                                                                            jstring jPath,
                                                                            jint jBacklog) {
    ScopedUtfChars path(env, jPath, "path");
    if (!path) return 0;
    std::shared_ptr<SharedSocket> listening = listenAt(env, path.c_str(), jBacklog);
    if (!listening) return 0;
    jint handle = addServerSocketPeer(serverSocketPeers(), std::move(listening), kNoUid);
    if (handle == 0) throwOutOfMemory(env);
    return handle;
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_UnixDomServerSocket_setSoTimeout0(JNIEnv* env,
                                                                                  jobject obj,
                                                                                  jint jTimeout) {
    setTimeoutOf(env, obj, serverSocketPeers(), jTimeout);
}

JNIEXPORT jobject JNICALL Java_com_orvela_core_cli_UnixDomServerSocket_accept0(JNIEnv* env,
                                                                               jobject obj) {
    ServerSocketPeer server;
    if (serverSocketPeerOrThrow(env, obj, &server) == nullptr) return nullptr;
    std::string clientPath;
    ScopedFd conn(acceptClient(env, server, &clientPath));
    if (!conn) return nullptr;

    ScopedLocalRef<jclass> socketClass(env, env->FindClass("com/orvela/core/cli/UnixDomSocket"));
    if (!socketClass) return nullptr;
    ClientCheck client = examineClientFile(conn.get(), clientPath);
    if (client.failure != nullptr) {
        throwIOException(env, client.failure);
        return nullptr;
    }
    int err = 0;
    std::shared_ptr<SharedSocket> accepted = SharedSocket::adopt(conn.release(), &err);
    if (!accepted) {
        throwIOError(env, err);
        return nullptr;
    }
    jint handOver = addServerSocketPeer(handOverPeers(), std::move(accepted), client.uid);
    if (handOver == 0) {
        throwOutOfMemory(env);
        return nullptr;
    }
    debugLine(2, "Uid set to %ld\n", client.uid);

    jmethodID constructor = env->GetMethodID(socketClass.get(), "<init>", "(I)V");
    jobject socket =
        constructor != nullptr ? env->NewObject(socketClass.get(), constructor, handOver) : nullptr;
    // Whether or not the object came to be, a record its constructor did not take is released
    // here (closing the connection), and one it took is not touched again.
    handOverPeers().remove(handOver);
    return socket;
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_UnixDomServerSocket_close0(JNIEnv* env,
                                                                           jobject obj) {
    closeRecordOf(env, obj, serverSocketPeers());
}

}  // extern "C"
