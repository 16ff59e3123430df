#include "core/cli/lanterra/Listener.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>

#include "binding/Deadline.h"
#include "binding/DebugLine.h"
#include "binding/ScopedFd.h"
#include "binding/SocketWait.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"
#include "core/cli/lanterra/SocketAddress.h"
#include "core/cli/lanterra/WaitOutcome.h"

namespace orvela::lanterra {
namespace {

// Waits until a client is queued on `listening`, the socket is closed or `deadline` passes; a
// signal is waited out.
Waited awaitClient(JNIEnv* env, const SharedSocket& listening, const Deadline& deadline) {
    for (;;) {
        debugLine(2, "accept select...\n");
        SocketWait waited = waitForSocket(listening, POLLIN, deadline);
        debugLine(1, "accept select rc=%i\n", waited.polled);
        if (waited.result != SocketWait::Interrupted) return outcomeOf(env, waited);
    }
}

}  // namespace

std::shared_ptr<SharedSocket> listenAt(JNIEnv* env, const char* path, int backlog) {
    ScopedFd sock(streamSocketOrThrow(env, true));
    if (!sock || !pathGivenOrThrow(env, path)) return nullptr;
    sockaddr_un address = unixAddress(path);
    if (::bind(sock.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(sock.get(), backlog) != 0) {
        throwIOError(env, errno);
        return nullptr;
    }
    int err = 0;
    std::shared_ptr<SharedSocket> listening = SharedSocket::adopt(sock.release(), &err);
    if (!listening) throwIOError(env, err);
    return listening;
}

// The listening socket is non-blocking: when another acceptor took the client that woke this
// one, it goes back to waiting for the rest of the limit.
int acceptClient(JNIEnv* env, const ServerSocketPeer& server, std::string* clientPath) {
    SharedSocket& listening = *server.sock;
    const Deadline deadline =
        server.timeout > 0 ? Deadline::inMillis(server.timeout) : Deadline::none();
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
        switch (awaitClient(env, listening, deadline)) {
            case Waited::Ready:
                continue;
            case Waited::Closed:
                throwIOException(env, "Invalid handle");
                return -1;
            case Waited::Thrown:
                return -1;
        }
    }
}

}  // namespace orvela::lanterra
