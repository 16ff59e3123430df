#pragma once

#include <jni.h>

#include <memory>
#include <string>

#include "binding/SharedSocket.h"
#include "core/cli/lanterra/SocketPeers.h"

namespace orvela::lanterra {

// The listening end of the channel, a non-blocking socket bound to `path`, so that an accept
// never waits past the caller's limit. Null with an exception pending when there is none.
std::shared_ptr<SharedSocket> listenAt(JNIEnv* env, const char* path, int backlog);

// Takes one queued connection off the server's listening socket, waiting for one first as long
// as the server's limit allows; *clientPath is the path the client bound. The descriptor, or -1
// with an exception pending ("Invalid handle" once another thread has closed the server).
int acceptClient(JNIEnv* env, const ServerSocketPeer& server, std::string* clientPath);

}  // namespace orvela::lanterra
