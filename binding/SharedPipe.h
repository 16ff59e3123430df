#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "binding/OverlappedWait.h"

namespace orvela {

// A pipe end (opened for overlapped I/O) that several threads use at once while any of them
// may close it. close() only marks it closed, cancels every operation pending on it and
// signals a wake event that every wait on it watches beside its own: each waiter returns at
// once. The pipe and the events are closed when the last holder lets go, so no thread ever
// waits on, cancels or writes to a handle value that the system has given to something else.
// (Windows only; link orvela_binding_sharedpipe and orvela_binding_overlapped.)
//
// Each kind of operation has one manual-reset event, which an operation's own OVERLAPPED
// names; one operation of a kind may run at a time (claim), as two would share the event.
class SharedPipe {
  public:
    enum Kind { Connect, Read, Write, kKinds };

    // Takes over `pipe`. Null, with `pipe` closed and the system's code in `*err`, when an
    // event or the memory can't be had.
    static std::shared_ptr<SharedPipe> adopt(HANDLE pipe, DWORD* err);

    ~SharedPipe();
    SharedPipe(const SharedPipe&) = delete;
    SharedPipe& operator=(const SharedPipe&) = delete;

    HANDLE handle() const { return pipe_; }
    bool closed() const { return closed_.load(std::memory_order_acquire); }

    // A zeroed overlapped block for one operation of `kind`, with the kind's event.
    OVERLAPPED overlappedFor(Kind kind) const {
        OVERLAPPED ov = {};
        ov.hEvent = events_[kind];
        return ov;
    }

    // Waits out the operation of `ov` as awaitOverlapped does; a close of the pipe, before or
    // during the wait, ends it with Woken unless the operation completed.
    OverlappedOutcome await(OVERLAPPED* ov, const Deadline& deadline) const;

    // Marks the pipe closed and wakes its users; false when it was closed already.
    bool close();

    // Marks one operation of `kind` as under way for as long as the claim lives; held() is
    // false when another one is.
    class Claim {
      public:
        Claim(SharedPipe& pipe, Kind kind)
            : busy_(pipe.busy_[kind]), held_(!busy_.exchange(true, std::memory_order_acquire)) {}
        ~Claim() {
            if (held_) busy_.store(false, std::memory_order_release);
        }
        Claim(const Claim&) = delete;
        Claim& operator=(const Claim&) = delete;
        bool held() const { return held_; }

      private:
        std::atomic<bool>& busy_;
        bool held_;
    };

  private:
    SharedPipe() = default;

    HANDLE pipe_ = nullptr;
    HANDLE events_[kKinds] = {};
    HANDLE wake_ = nullptr;
    std::atomic<bool> closed_{false};
    std::atomic<bool> busy_[kKinds] = {};
};

}  // namespace orvela
