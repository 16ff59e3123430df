#include "core/cli/lanterra/ClientConnect.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "binding/DebugLine.h"
#include "binding/ScopedFd.h"
#include "binding/ThrowSystemError.h"
#include "core/cli/lanterra/ClientIdentity.h"
#include "core/cli/lanterra/ClientPath.h"
#include "core/cli/lanterra/SocketAddress.h"

namespace orvela::lanterra {
namespace {

bool bindClientFile(JNIEnv* env, int sock, std::string* clientPath) {
    *clientPath = makeClientPath();
    const char* path = clientPath->c_str();
    debugLine(1, "client path is '%s'\n", path);
    sockaddr_un own = unixAddress(path);
    socklen_t ownLen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + clientPath->size());
    rememberClientPath(*clientPath);
    ::unlink(path);
    if (::bind(sock, reinterpret_cast<sockaddr*>(&own), ownLen) != 0 ||
        ::chmod(path, kReadOnlyPerms) != 0) {
        throwIOError(env, errno);
        return false;
    }
    return true;
}

}  // namespace

std::shared_ptr<SharedSocket> connectToServer(JNIEnv* env, const char* serverPath,
                                              std::string* clientPath) {
    ScopedFd sock(streamSocketOrThrow(env));
    if (!sock || !pathGivenOrThrow(env, serverPath)) return nullptr;
    if (!bindClientFile(env, sock.get(), clientPath)) return nullptr;
    sockaddr_un server = unixAddress(serverPath);
    if (::connect(sock.get(), reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        int err = errno;
        ::unlink(clientPath->c_str());
        throwIOError(env, err);
        return nullptr;
    }
    int err = 0;
    std::shared_ptr<SharedSocket> connected = SharedSocket::adopt(sock.release(), &err);
    if (!connected) {
        ::unlink(clientPath->c_str());
        throwIOError(env, err);
    }
    return connected;
}

}  // namespace orvela::lanterra
