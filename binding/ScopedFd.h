#pragma once

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace orvela {

// A file descriptor (on Windows, one of the C runtime's), closed when the scope ends unless it
// has been released to a new owner.
class ScopedFd {
  public:
    explicit ScopedFd(int fd) : fd_(fd) {}
    ~ScopedFd() {
#if defined(_WIN32)
        if (fd_ >= 0) ::_close(fd_);
#else
        if (fd_ >= 0) ::close(fd_);
#endif
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;

    int get() const {
        return fd_;
    }
    // Hands the descriptor on without closing it.
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    explicit operator bool() const {
        return fd_ >= 0;
    }

  private:
    int fd_;
};

}  // namespace orvela
