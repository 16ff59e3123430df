#include "core/cli/lanterra/ClientPath.h"

#include <unistd.h>

#include <mutex>

namespace orvela::lanterra {

const char* const kClientDirName = "/var/tmp/";

namespace {

std::mutex pathMutex;
std::string lastClientPath;

}  // namespace

std::string makeClientPath() {
    return kClientDirName + std::to_string(static_cast<long>(::getpid()));
}

void rememberClientPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(pathMutex);
    lastClientPath = path;
}

std::string clientPathName() {
    std::lock_guard<std::mutex> lock(pathMutex);
    return lastClientPath;
}

}  // namespace orvela::lanterra
