#pragma once

#include <string>

namespace orvela::lanterra {

// The directory of the client socket files.
extern const char* const kClientDirName;

// The path of this process's client socket file: kClientDirName followed by the process id.
std::string makeClientPath();

// The client path most recently bound in this process (create0(String)); empty before that.
// One client connection is set up at a time, so one name serves them all.
void rememberClientPath(const std::string& path);
std::string clientPathName();

}  // namespace orvela::lanterra
