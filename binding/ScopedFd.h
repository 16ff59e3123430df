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
    explicit ScopedFd(int fd = -1) : fd_(fd) {}
    ~ScopedFd() { closeHeld(); }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;

    int get() const { return fd_; }
    // Hands the descriptor on without closing it.
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor held, if any, and takes `fd` in its place.
    void reset(int fd = -1) {
        closeHeld();
        fd_ = fd;
    }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    void closeHeld() {
#if defined(_WIN32)
        if (fd_ >= 0) ::_close(fd_);
#else
        if (fd_ >= 0) ::close(fd_);
#endif
    }

    int fd_;
};

}  // namespace orvela
