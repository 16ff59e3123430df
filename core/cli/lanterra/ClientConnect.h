#pragma once

#include <jni.h>

#include <memory>
#include <string>

#include "binding/SharedSocket.h"

namespace orvela::lanterra {

// Connects to the server at `serverPath` from this process's client file, *clientPath, which
// it binds with mode 0700 first: the proof of who connects. Null with an exception pending,
// and the client file removed, when there is no connection.
std::shared_ptr<SharedSocket> connectToServer(JNIEnv* env, const char* serverPath,
                                              std::string* clientPath);

}  // namespace orvela::lanterra
