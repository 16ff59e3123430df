#include "core/cli/LanterraScratch.h"

#include <memory>
#include <new>

namespace orvela {

jbyte* scratchBuffer(size_t size) {
    thread_local std::unique_ptr<jbyte[]> buffer;
    thread_local size_t capacity = 0;
    if (size > capacity) {
        // Grows straight to the full size: a stream soon needs it, and it is allocated once.
        buffer.reset(new (std::nothrow) jbyte[scratchCapacity]);
        capacity = buffer ? scratchCapacity : 0;
    }
    return buffer.get();
}

}  // namespace orvela
