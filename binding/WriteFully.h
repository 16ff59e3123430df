#pragma once

// Writing a whole buffer to a descriptor (POSIX): a signal that cuts a write short, or a write
// that takes only part of the bytes, is followed by another for the rest.

#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace orvela {
namespace detail {

template <typename WriteOnce>
size_t writeFullyWith(const void* data, size_t length, WriteOnce writeOnce) {
    const char* next = static_cast<const char*>(data);
    size_t done = 0;
    while (done < length) {
        const ssize_t written = writeOnce(next + done, length - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        break;  // errno tells why (a write of nothing leaves it alone)
    }
    return done;
}

}  // namespace detail

// The bytes written: `length`, or fewer when a write failed, with errno telling why.
inline size_t writeFully(int fd, const void* data, size_t length) {
    return detail::writeFullyWith(
        data, length, [fd](const char* from, size_t count) { return ::write(fd, from, count); });
}

// The same through send(2) with its `flags`, for a socket (MSG_NOSIGNAL: a peer that went away
// is an error, not a SIGPIPE).
inline size_t sendFully(int fd, const void* data, size_t length, int flags) {
    return detail::writeFullyWith(data, length, [fd, flags](const char* from, size_t count) {
        return ::send(fd, from, count, flags);
    });
}

}  // namespace orvela
