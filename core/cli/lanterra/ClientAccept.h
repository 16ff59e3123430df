#pragma once

#include <jni.h>

#include <string>

#include "core/cli/lanterra/SocketPeers.h"

namespace orvela::lanterra {

// Takes one queued connection off the server's listening socket, waiting for one first as long
// as the server's limit allows; *clientPath is the path the client bound. The descriptor, or -1
// with an exception pending ("Invalid handle" once another thread has closed the server).
int acceptClient(JNIEnv* env, const ServerSocketPeer& server, std::string* clientPath);

}  // namespace orvela::lanterra
