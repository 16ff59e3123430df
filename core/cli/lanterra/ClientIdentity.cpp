#include "core/cli/lanterra/ClientIdentity.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "binding/LastErrorMsg.h"

namespace orvela::lanterra {

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

// An entry too long for the buffer gets a larger one.
bool lookUpUserName(long uid, std::string* name) {
    std::vector<char> strings(128);
    for (;;) {
        passwd pwdInfo;
        passwd* found = nullptr;
        int rc =
            ::getpwuid_r(static_cast<uid_t>(uid), &pwdInfo, strings.data(), strings.size(), &found);
        if (rc == ERANGE && strings.size() < 65536) {
            strings.resize(strings.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr) return false;
        *name = pwdInfo.pw_name;
        return true;
    }
}

}  // namespace orvela::lanterra
