#pragma once

#include <windows.h>

namespace orvela {

// A kernel object handle (pipe, event, file), closed when the scope ends. Both null and
// INVALID_HANDLE_VALUE mean none, as the calls that make handles fail with either.
class ScopedHandle {
  public:
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedHandle() {
        if (*this) CloseHandle(handle_);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE handle_;
};

}  // namespace orvela
