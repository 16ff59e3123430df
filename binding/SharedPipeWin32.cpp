#include <new>

#include "binding/SharedPipe.h"

namespace orvela {

std::shared_ptr<SharedPipe> SharedPipe::adopt(HANDLE pipe, DWORD* err) {
    SharedPipe* shared = new (std::nothrow) SharedPipe;
    if (shared == nullptr) {
        CloseHandle(pipe);
        *err = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    // From here the destructor closes the pipe and whatever events were made.
    shared->pipe_ = pipe;
    std::shared_ptr<SharedPipe> owner;
    try {
        owner.reset(shared);
    } catch (const std::bad_alloc&) {
        *err = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    for (HANDLE& event : owner->events_) {
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (event == nullptr) {
            *err = GetLastError();
            return nullptr;
        }
    }
    owner->wake_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (owner->wake_ == nullptr) {
        *err = GetLastError();
        return nullptr;
    }
    return owner;
}

SharedPipe::~SharedPipe() {
    if (pipe_ != nullptr) CloseHandle(pipe_);
    for (HANDLE event : events_) {
        if (event != nullptr) CloseHandle(event);
    }
    if (wake_ != nullptr) CloseHandle(wake_);
}

OverlappedOutcome SharedPipe::await(OVERLAPPED* ov, const Deadline& deadline) const {
    OverlappedOutcome outcome = awaitOverlapped(pipe_, ov, deadline, wake_);
    // An operation that close() cancelled before the wait saw the wake fails as aborted.
    if (outcome.kind != OverlappedOutcome::Done && closed())
        outcome.kind = OverlappedOutcome::Woken;
    return outcome;
}

bool SharedPipe::close() {
    if (closed_.exchange(true, std::memory_order_acq_rel)) return false;
    // A wait that starts later sees the wake at once; pending operations end now.
    SetEvent(wake_);
    CancelIoEx(pipe_, nullptr);
    return true;
}

}  // namespace orvela
