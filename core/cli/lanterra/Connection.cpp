#include "core/cli/lanterra/Connection.h"

#include <algorithm>
#include <cstddef>
#include <new>

#include "binding/ScopedLocalRef.h"

namespace orvela::lanterra {

std::shared_ptr<Connection> Connection::adopt(std::shared_ptr<SharedSocket> socket) {
    if (!socket) return nullptr;
    try {
        return std::make_shared<Connection>(std::move(socket));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool Connection::hold(const jbyte* bytes, size_t count) {
    std::lock_guard<std::mutex> lock(heldMutex_);
    try {
        held_.insert(held_.end(), bytes, bytes + count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    holding_.store(true, std::memory_order_release);
    return true;
}

jbyteArray Connection::takeHeld(JNIEnv* env) {
    std::lock_guard<std::mutex> lock(heldMutex_);
    if (held_.empty()) return nullptr;
    ScopedLocalRef<jbyteArray> bytes(env, env->NewByteArray(static_cast<jsize>(held_.size())));
    if (!bytes) return nullptr;
    env->SetByteArrayRegion(bytes.get(), 0, static_cast<jsize>(held_.size()), held_.data());
    held_.clear();
    held_.shrink_to_fit();
    holding_.store(false, std::memory_order_release);
    return bytes.release();
}

size_t Connection::takeHeldInto(JNIEnv* env, jbyteArray array, jint off, jint len) {
    std::lock_guard<std::mutex> lock(heldMutex_);
    size_t count = std::min(held_.size(), static_cast<size_t>(len));
    if (count == 0) return 0;
    env->SetByteArrayRegion(array, off, static_cast<jsize>(count), held_.data());
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
    if (held_.empty()) {
        held_.shrink_to_fit();
        holding_.store(false, std::memory_order_release);
    }
    return count;
}

}  // namespace orvela::lanterra
