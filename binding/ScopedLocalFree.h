#pragma once

#include <windows.h>

namespace orvela {

// Memory that the system allocated for us with LocalAlloc (a FormatMessageA text, a security
// descriptor, a SID), released with LocalFree when the scope ends.
template <typename T>
class ScopedLocalFree {
  public:
    explicit ScopedLocalFree(T* ptr = nullptr) : ptr_(ptr) {}
    ~ScopedLocalFree() {
        if (ptr_ != nullptr) LocalFree(ptr_);
    }
    ScopedLocalFree(const ScopedLocalFree&) = delete;
    ScopedLocalFree& operator=(const ScopedLocalFree&) = delete;

    T* get() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    // For the calls that hand back the allocation through an out-parameter.
    T** out() {
        reset();
        return &ptr_;
    }
    void reset(T* ptr = nullptr) {
        if (ptr_ != nullptr) LocalFree(ptr_);
        ptr_ = ptr;
    }

  private:
    T* ptr_;
};

}  // namespace orvela
