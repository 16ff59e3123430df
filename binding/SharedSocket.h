#pragma once

#include <atomic>
#include <memory>

namespace orvela {

// A socket that several threads use at once while any of them may close it. close() only marks
// it closed, shuts the socket down and makes wakeFd() readable: every call blocked on the socket
// and every wait that polls wakeFd() beside it returns. The number itself is closed when the
// last holder lets go, so no thread ever waits on, reads, writes or accepts on a number that a
// later open has been given. (POSIX only; link orvela_binding_sharedsocket.)
class SharedSocket {
  public:
    // Takes over `fd`. Null, with `fd` closed and the error number in `*error`, when the wake
    // descriptor or the memory can't be had.
    static std::shared_ptr<SharedSocket> adopt(int fd, int* error);

    ~SharedSocket();
    SharedSocket(const SharedSocket&) = delete;
    SharedSocket& operator=(const SharedSocket&) = delete;

    int fd() const { return fd_; }
    // Readable once close() has run; never read, so it stays readable.
    int wakeFd() const { return wakeFd_; }
    bool closed() const { return closed_.load(std::memory_order_acquire); }

    // Marks the socket closed and wakes its users; false when it was closed already.
    bool close();

  private:
    SharedSocket(int fd, int wakeFd) : fd_(fd), wakeFd_(wakeFd) {}

    const int fd_;
    const int wakeFd_;
    std::atomic<bool> closed_{false};
};

}  // namespace orvela
