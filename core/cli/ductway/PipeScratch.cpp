#include "core/cli/ductway/PipeScratch.h"

#include <windows.h>

#include <new>

namespace orvela::ductway {

namespace {

// A thread's buffer, found through a fiber-local slot. The system calls freeThreadBuffer for
// the thread's value when the thread ends, and for every thread's value when the slot is
// freed as the library is unloaded: a C++ thread_local would instead leave its destructor
// behind in a library that FreeLibrary may have unloaded.
struct ThreadBuffer {
    size_t capacity;
    jbyte* bytes;
};

void WINAPI freeThreadBuffer(void* value) {
    auto* buffer = static_cast<ThreadBuffer*>(value);
    if (buffer == nullptr) return;
    delete[] buffer->bytes;
    delete buffer;
}

class ScratchSlot {
  public:
    ScratchSlot() : index_(FlsAlloc(freeThreadBuffer)) {}
    ~ScratchSlot() {
        if (index_ != FLS_OUT_OF_INDEXES) FlsFree(index_);
    }
    ScratchSlot(const ScratchSlot&) = delete;
    ScratchSlot& operator=(const ScratchSlot&) = delete;

    // The calling thread's buffer with room for `size` bytes, null when memory (or a slot)
    // ran out. It grows in powers of two from 64 KiB, so a stream settles after a step or two.
    jbyte* bufferFor(size_t size) {
        if (index_ == FLS_OUT_OF_INDEXES) return nullptr;
        auto* buffer = static_cast<ThreadBuffer*>(FlsGetValue(index_));
        if (buffer == nullptr) {
            buffer = new (std::nothrow) ThreadBuffer{0, nullptr};
            if (buffer == nullptr) return nullptr;
            if (!FlsSetValue(index_, buffer)) {
                delete buffer;
                return nullptr;
            }
        }
        if (size <= buffer->capacity) return buffer->bytes;
        size_t capacity = 64 * 1024;
        while (capacity < size) capacity *= 2;
        delete[] buffer->bytes;
        buffer->bytes = new (std::nothrow) jbyte[capacity];
        buffer->capacity = buffer->bytes != nullptr ? capacity : 0;
        return buffer->bytes;
    }

  private:
    DWORD index_;
};

ScratchSlot& scratchSlot() {
    static ScratchSlot slot;
    return slot;
}

}  // namespace

PipeScratch::PipeScratch(size_t size) {
    if (size <= kPipeScratchLimit) data_ = scratchSlot().bufferFor(size);
    if (data_ != nullptr) return;
    // A transfer too big to keep, or no thread buffer to be had: this call's own.
    own_.reset(new (std::nothrow) jbyte[size > 0 ? size : 1]);
    data_ = own_.get();
}

}  // namespace orvela::ductway
