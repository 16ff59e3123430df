#include "core/cli/lanterra/ClientIdentity.h"

#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>

#include "binding/LastErrorMsg.h"

namespace orvela {

ClientCheck examineClientFile(int connFd, const std::string& clientPath) {
    // lstat: a client must not be able to present someone else's file through a link.
    struct stat fileInfo;
    if (::lstat(clientPath.c_str(), &fileInfo) != 0) return {0, getLastErrorMsg(errno)};
    if ((fileInfo.st_mode & S_IFMT) != S_IFSOCK) return {0, "Passed file not a socket"};
    if ((fileInfo.st_mode & 077) != 0 || (fileInfo.st_mode & 0700) != kReadOnlyPerms) {
        return {0, "Bad Permissions"};
    }
    // The file may have been swapped for a hard link to another user's socket after the
    // client connected; the kernel's record of who connected settles it.
    ucred peer{};
    socklen_t peerLen = sizeof peer;
    if (::getsockopt(connFd, SOL_SOCKET, SO_PEERCRED, &peer, &peerLen) != 0) {
        return {0, getLastErrorMsg(errno)};
    }
    if (peer.uid != fileInfo.st_uid) {
        return {0, "Client socket file not owned by the connecting user"};
    }
    return {static_cast<long>(fileInfo.st_uid), nullptr};
}

}  // namespace orvela
