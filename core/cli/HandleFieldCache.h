#pragma once

#include <jni.h>

#include <atomic>
#include <new>

#include "binding/HandleField.h"
#include "binding/LoadGeneration.h"
#include "binding/ScopedLocalRef.h"

namespace orvela {

// The int field "handle" of the objects one native is called with, looked up once instead of on
// every call. The first class seen is kept (a weak reference, which doesn't hold the class in
// memory) with its field id; an object of any other class gets a plain lookup, so the result is
// always what findHandleField would give. Safe for any number of threads.
class HandleFieldCache {
  public:
    HandleFieldCache() = default;
    HandleFieldCache(const HandleFieldCache&) = delete;
    HandleFieldCache& operator=(const HandleFieldCache&) = delete;

    // The field, or null with the VM's NoSuchFieldError pending.
    jfieldID find(JNIEnv* env, jobject obj) {
        ScopedLocalRef<jclass> cls(env, env->GetObjectClass(obj));
        if (!cls) return nullptr;
        unsigned generation = loadGeneration.load(std::memory_order_relaxed);
        const Entry* kept = entry_.load(std::memory_order_acquire);
        // An entry of an earlier load names a class of a VM that may be gone: not touched.
        bool current = kept != nullptr && kept->generation == generation;
        if (current && env->IsSameObject(cls.get(), kept->cls)) return kept->fid;
        jfieldID fid = env->GetFieldID(cls.get(), "handle", "I");
        if (fid != nullptr && !current) keep(env, cls.get(), fid, generation, kept);
        return fid;
    }

  private:
    struct Entry {
        jweak cls;
        jfieldID fid;
        unsigned generation;
    };

    // Publishes cls and fid in place of `replaced` unless another thread got there first. An
    // entry that is replaced is left alone: its reference belongs to a VM that is gone.
    void keep(JNIEnv* env, jclass cls, jfieldID fid, unsigned generation, const Entry* replaced) {
        jweak weak = env->NewWeakGlobalRef(cls);
        if (weak == nullptr) {
            // Keeping the id is only a saving; the lookup itself succeeded.
            env->ExceptionClear();
            return;
        }
        Entry* entry = new (std::nothrow) Entry{weak, fid, generation};
        if (entry == nullptr ||
            !entry_.compare_exchange_strong(replaced, entry, std::memory_order_acq_rel)) {
            delete entry;
            env->DeleteWeakGlobalRef(weak);
        }
    }

    std::atomic<const Entry*> entry_{nullptr};
};

}  // namespace orvela
