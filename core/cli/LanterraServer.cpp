// The natives of com.orvela.core.cli.UnixDomServerSocket: the listening end of the local
// command-line channel, which accepts clients and establishes the user each runs as.
#include <jni.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>
#include <new>
#include <string>

#include "binding/LastErrorMsg.h"
#include "binding/ScopedFd.h"
#include "binding/ScopedLocalRef.h"
#include "binding/ScopedUtfChars.h"
#include "binding/ThrowByName.h"
#include "core/cli/LanterraAddress.h"
#include "core/cli/LanterraIdentity.h"
#include "core/cli/LanterraPeers.h"
#include "core/cli/LanterraTrace.h"
#include "core/cli/LanterraWait.h"

namespace orvela {
namespace {

constexpr const char* socketClassName = "com/orvela/core/cli/UnixDomSocket";

// Closes the accepted descriptor of a hand-over record that UnixDomSocket.create0(int) did not
// take; when it did, the record and its descriptor are that method's.
void releaseHandOver(jint handOver) {
    if (std::unique_ptr<ServerSocketPeer> record = handOverPeers().remove(handOver)) {
        ::close(record->sockFd);
    }
}

// Accepts one connection from the listening descriptor; -1 with an exception pending.
int acceptClient(JNIEnv* env, const ServerSocketPeer& server, std::string* clientPath) {
    if (server.timeout > 0) {
        if (!awaitReadable(env, server.sockFd, server.timeout, WaitPurpose::Accept)) return -1;
    } else {
        traceLine(1, "accepting, no timeout\n");
    }
    sockaddr_un acceptedAddr{};
    socklen_t addrLen = sizeof acceptedAddr;
    int fd = ::accept4(server.sockFd, reinterpret_cast<sockaddr*>(&acceptedAddr), &addrLen,
                       SOCK_CLOEXEC);
    if (fd < 0) {
        throwIOException(env, getLastErrorMsg());
        return -1;
    }
    *clientPath = pathOf(acceptedAddr, addrLen);
    traceLine(2, "addrLen: %d\n", static_cast<int>(addrLen));
    traceLine(2, "acceptedAddr.sun_path: %s\n", clientPath->c_str());
    traceLine(1, "accepted fd %i\n", fd);
    return fd;
}

}  // namespace
}  // namespace orvela

using namespace orvela;

extern "C" {

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_UnixDomServerSocket_create0(JNIEnv* env, jobject,
                                                                            jstring jPath,
                                                                            jint jBacklog) {
    ScopedFd sock(openStreamSocket(env, jPath));
    if (!sock) return 0;
    ScopedUtfChars path(env, jPath);
    if (!path) return 0;
    sockaddr_un address = unixAddress(path.c_str());
    if (::bind(sock.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(sock.get(), jBacklog) != 0) {
        throwIOException(env, getLastErrorMsg());
        return 0;
    }
    std::unique_ptr<ServerSocketPeer> record(new (std::nothrow)
                                                 ServerSocketPeer{sock.get(), 0, noUid});
    jint handle = serverSocketPeers().add(std::move(record));
    if (handle == 0) {
        throwOutOfMemory(env);
        return 0;
    }
    sock.release();
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

    ScopedLocalRef<jclass> socketClass(env, env->FindClass(socketClassName));
    if (!socketClass) return nullptr;
    ClientCheck client = examineClientFile(conn.get(), clientPath);
    if (client.failure != nullptr) {
        throwIOException(env, client.failure);
        return nullptr;
    }
    std::unique_ptr<ServerSocketPeer> record(new (std::nothrow)
                                                 ServerSocketPeer{conn.get(), 0, client.uid});
    jint handOver = handOverPeers().add(std::move(record));
    if (handOver == 0) {
        throwOutOfMemory(env);
        return nullptr;
    }
    conn.release();  // the hand-over record owns the descriptor now
    traceLine(2, "Uid set to %ld\n", client.uid);

    jmethodID constructor = env->GetMethodID(socketClass.get(), "<init>", "(I)V");
    jobject socket =
        constructor != nullptr ? env->NewObject(socketClass.get(), constructor, handOver) : nullptr;
    // Whether or not the object came to be, a record its constructor did not take is released
    // here, and one it took is not touched again.
    releaseHandOver(handOver);
    return socket;
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_UnixDomServerSocket_close0(JNIEnv* env,
                                                                           jobject obj) {
    closeRecordOf(env, obj, serverSocketPeers());
}

}  // extern "C"
