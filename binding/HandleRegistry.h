#pragma once

#include <jni.h>

#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

namespace orvela {

namespace detail {
// The next candidate handle of the process: non-zero, and a value is not offered again
// until the 32-bit counter wraps around.
jint nextHandleCandidate();
}  // namespace detail

// Gives native records to Java as non-zero 32-bit ints (the Java field "handle") and turns
// those ints back into records. A value never issued, 0, or one whose record has been removed
// resolves to nothing, so a stale or forged value from Java can't reach freed or foreign
// memory. Lookup, copy, update and removal are atomic with respect to each other.
template <typename Record>
class HandleRegistry {
  public:
    HandleRegistry() = default;
    HandleRegistry(const HandleRegistry&) = delete;
    HandleRegistry& operator=(const HandleRegistry&) = delete;

    // Takes ownership of `record` and returns its handle; 0 (and the record freed) when
    // memory ran out.
    jint add(std::unique_ptr<Record> record) noexcept {
        if (!record) return 0;
        std::lock_guard<std::mutex> lock(mutex_);
        try {
            jint handle = detail::nextHandleCandidate();
            while (records_.count(handle) != 0) handle = detail::nextHandleCandidate();
            records_.emplace(handle, std::move(record));
            return handle;
        } catch (const std::bad_alloc&) {
            return 0;
        }
    }

    // Copies the record of `handle` into *out; false when the handle designates none.
    bool copy(jint handle, Record* out) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = records_.find(handle);
        if (it == records_.end()) return false;
        *out = *it->second;
        return true;
    }

    // Runs fn(Record&) on the record of `handle` under the registry's lock; false when the
    // handle designates none.
    template <typename Fn>
    bool update(jint handle, Fn&& fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = records_.find(handle);
        if (it == records_.end()) return false;
        fn(*it->second);
        return true;
    }

    // Takes the record of `handle` out; null when there is none (already removed, or never
    // issued). Exactly one caller gets a given record.
    std::unique_ptr<Record> remove(jint handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = records_.find(handle);
        if (it == records_.end()) return nullptr;
        std::unique_ptr<Record> record = std::move(it->second);
        records_.erase(it);
        return record;
    }

    size_t size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::unordered_map<jint, std::unique_ptr<Record>> records_;
};

}  // namespace orvela
