#include "core/cli/lanterra/SocketAddress.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "binding/ThrowSystemError.h"

namespace orvela::lanterra {

sockaddr_un unixAddress(const char* path) {
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
    return address;
}

std::string pathOf(const sockaddr_un& address, socklen_t addrLen) {
    const size_t familySize = offsetof(sockaddr_un, sun_path);
    if (addrLen <= familySize) return std::string();
    size_t length = addrLen - familySize;
    if (length > sizeof address.sun_path) length = sizeof address.sun_path;
    // The kernel may or may not count a terminator; the path ends at the first NUL either way.
    return std::string(address.sun_path, strnlen(address.sun_path, length));
}

int streamSocketOrThrow(JNIEnv* env, bool nonBlocking) {
    int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
    if (sock < 0) throwIOError(env, errno);
    return sock;
}

bool pathGivenOrThrow(JNIEnv* env, const char* path) {
    if (path[0] != '\0') return true;
    throwIOError(env, ENOENT);
    return false;
}

}  // namespace orvela::lanterra
