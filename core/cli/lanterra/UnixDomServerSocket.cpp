// The natives of com.orvela.core.cli.UnixDomServerSocket: the listening end of the local
// command-line channel, which accepts clients and establishes the user each runs as.
#include <jni.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <new>
#include <string>

#include "binding/DebugLine.h"
#include "binding/ScopedFd.h"
#include "binding/ScopedLocalRef.h"
#include "binding/ScopedUtfChars.h"
#include "binding/SharedSocket.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"
#include "core/cli/lanterra/ClientIdentity.h"
#include "core/cli/lanterra/SocketAddress.h"
#include "core/cli/lanterra/SocketPeers.h"
#include "core/cli/lanterra/SocketWait.h"

namespace orvela {
namespace {

constexpr const char* kSocketClassName = "com/orvela/core/cli/UnixDomSocket";

// Takes one queued connection off the listening socket, waiting for one first as long as the
// server's limit allows. The listening socket is non-blocking: when another acceptor took the
// client that woke this one, it goes back to waiting for the rest of the limit. -1 with an
// exception pending; "Invalid handle" once another thread has closed the server.
int acceptClient(JNIEnv* env, const ServerSocketPeer& server, std::string* clientPath) {
    SharedSocket& listening = *server.sock;
    WaitLimit limit(server.timeout);
    if (server.timeout <= 0) debugLine(1, "accepting, no timeout\n");
    for (;;) {
        if (listening.closed()) {
            throwIOException(env, "Invalid handle");
            return -1;
        }
        sockaddr_un acceptedAddr{};
        socklen_t addrLen = sizeof acceptedAddr;
        int fd = ::accept4(listening.fd(), reinterpret_cast<sockaddr*>(&acceptedAddr), &addrLen,
                           SOCK_CLOEXEC);
        if (fd >= 0) {
            *clientPath = pathOf(acceptedAddr, addrLen);
            debugLine(2, "addrLen: %d\n", static_cast<int>(addrLen));
            debugLine(2, "acceptedAddr.sun_path: %s\n", clientPath->c_str());
            debugLine(1, "accepted fd %i\n", fd);
            return fd;
        }
        int err = errno;
        // A client that gave up while queued is no reason to stop waiting for the next.
        if (err == EINTR || err == ECONNABORTED) continue;
        if (err != EAGAIN && err != EWOULDBLOCK) {
            if (listening.closed()) {
                throwIOException(env, "Invalid handle");
            } else {
                throwIOError(env, err);
            }
            return -1;
        }
        switch (awaitSocket(env, listening, POLLIN, limit, WaitPurpose::Accept)) {
            case Waited::Ready:
                continue;
            case Waited::Closed:
                throwIOException(env, "Invalid handle");
                return -1;
            case Waited::Failed:
                return -1;
        }
    }
}

}  // namespace
}  // namespace orvela

using namespace orvela;

extern "C" {

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_UnixDomServerSocket_create0(JNIEnv* env, jobject,
                                                                            jstring jPath,
                                                                            jint jBacklog) {
    ScopedUtfChars path(env, jPath, "path");
    if (!path) return 0;
    // Non-blocking, so that an accept never waits past the caller's limit.
    ScopedFd sock(streamSocketOrThrow(env, true));
    if (!sock || !pathGivenOrThrow(env, path.c_str())) return 0;
    sockaddr_un address = unixAddress(path.c_str());
    if (::bind(sock.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(sock.get(), jBacklog) != 0) {
        throwIOError(env, errno);
        return 0;
    }
    int err = 0;
    std::shared_ptr<SharedSocket> listening = SharedSocket::adopt(sock.release(), &err);
    if (!listening) {
        throwIOError(env, err);
        return 0;
    }
    std::unique_ptr<ServerSocketPeer> record(new (std::nothrow)
                                                 ServerSocketPeer{std::move(listening), 0, kNoUid});
    jint handle = serverSocketPeers().add(std::move(record));
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

    ScopedLocalRef<jclass> socketClass(env, env->FindClass(kSocketClassName));
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
    std::unique_ptr<ServerSocketPeer> record(
        new (std::nothrow) ServerSocketPeer{std::move(accepted), 0, client.uid});
    jint handOver = handOverPeers().add(std::move(record));
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
