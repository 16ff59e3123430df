#pragma once

#include <string>

namespace orvela::lanterra {

// The mode a client gives its socket file, and the only permission bits the server accepts.
constexpr unsigned kReadOnlyPerms = 0700;

// What the server learnt about an accepted client.
struct ClientCheck {
    long uid;             // the client's user, when failure is null
    const char* failure;  // null, or the message of the IOException that rejects the client
};

// Examines the socket file `clientPath` that the client on `connFd` bound before connecting:
// it must be a socket itself (not a link to one), with exactly the owner's rwx permission bits,
// and owned by the user the kernel reports for the connection's peer.
ClientCheck examineClientFile(int connFd, const std::string& clientPath);

// The name of the user `uid` in the user database; false when it has no entry there.
bool lookUpUserName(long uid, std::string* name);

}  // namespace orvela::lanterra
