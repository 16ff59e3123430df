#include "binding/HandleRegistry.h"

#include <atomic>
#include <cstdint>

namespace orvela::detail {

jint nextHandleCandidate() {
    // Starting away from small numbers keeps a handle from looking like a descriptor or a
    // count that a caller might pass by mistake.
    static std::atomic<uint32_t> counter{0x4f52560u};
    uint32_t value;
    do {
        value = counter.fetch_add(1, std::memory_order_relaxed) + 1;
    } while (value == 0);
    return static_cast<jint>(value);
}

}  // namespace orvela::detail
