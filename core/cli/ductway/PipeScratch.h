#pragma once

#include <jni.h>

#include <cstddef>
#include <memory>

namespace orvela::ductway {

// The largest buffer a thread keeps between calls; a bigger transfer gets one of its own.
constexpr size_t kPipeScratchLimit = 1024 * 1024;

// Room for the bytes of one read or write between a Java array and the pipe. Up to
// kPipeScratchLimit it is the calling thread's buffer, kept for the thread's life, so that a
// stream of reads and writes doesn't allocate (and, above 64 KiB, fault in fresh pages) on
// every call; above, a buffer of this call's own. The thread's buffer is released when the
// thread ends or the library is unloaded.
class PipeScratch {
  public:
    explicit PipeScratch(size_t size);
    PipeScratch(const PipeScratch&) = delete;
    PipeScratch& operator=(const PipeScratch&) = delete;

    // Null when memory ran out.
    jbyte* get() const { return data_; }

  private:
    std::unique_ptr<jbyte[]> own_;
    jbyte* data_ = nullptr;
};

}  // namespace orvela::ductway
