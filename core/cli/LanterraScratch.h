#pragma once

#include <jni.h>

#include <cstddef>

namespace orvela {

// The most bytes one read0 takes and one step of write0 stages.
constexpr size_t scratchCapacity = 256 * 1024;

// The calling thread's buffer for staging bytes between Java arrays and a socket, at least
// `size` bytes (at most scratchCapacity); null when memory ran out. Kept for the thread's life,
// so that reads and writes don't allocate on every call.
jbyte* scratchBuffer(size_t size);

}  // namespace orvela
