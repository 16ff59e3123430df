#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <jni.h>

#include <string>

namespace orvela::lanterra {

// A Unix-domain address for `path`. A path longer than the field holds is cut to its first
// 107 bytes, so the path is always terminated.
sockaddr_un unixAddress(const char* path);

// The path in an address that accept returned with `addrLen` bytes filled: empty for a client
// that bound no path (or an abstract one), never running past the path field.
std::string pathOf(const sockaddr_un& address, socklen_t addrLen);

// A new Unix-domain stream socket (non-blocking when asked); -1 with IOException and the system
// text pending when the system makes no socket.
int streamSocketOrThrow(JNIEnv* env, bool nonBlocking = false);

// False, with IOException and the system's text for a missing file pending, for an empty path:
// it would name an abstract socket, which has no file and so no permissions to guard it.
bool pathGivenOrThrow(JNIEnv* env, const char* path);

}  // namespace orvela::lanterra
