#include "binding/SharedSocket.h"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>

namespace orvela {

std::shared_ptr<SharedSocket> SharedSocket::adopt(int fd, int* error) {
    int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        *error = errno;
        ::close(fd);
        return nullptr;
    }
    SharedSocket* socket = new (std::nothrow) SharedSocket(fd, wakeFd);
    if (socket == nullptr) {
        ::close(fd);
        ::close(wakeFd);
        *error = ENOMEM;
        return nullptr;
    }
    try {
        return std::shared_ptr<SharedSocket>(socket);
    } catch (const std::bad_alloc&) {
        // The socket has been deleted, and both descriptors closed with it.
        *error = ENOMEM;
        return nullptr;
    }
}

SharedSocket::~SharedSocket() {
    ::close(fd_);
    ::close(wakeFd_);
}

bool SharedSocket::close() {
    if (closed_.exchange(true, std::memory_order_acq_rel)) return false;
    // A blocked accept, recv or send returns at once; a wait sees the wake descriptor.
    ::shutdown(fd_, SHUT_RDWR);
    uint64_t one = 1;
    ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
    (void)ignored;
    return true;
}

}  // namespace orvela
