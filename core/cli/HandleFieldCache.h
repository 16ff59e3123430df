#pragma once

#include <jni.h>

#include <atomic>

#include "binding/LoadGeneration.h"
#include "binding/ScopedLocalRef.h"

namespace orvela {

// The int field "handle" of the objects one native is called with, looked up once instead of on
// every call. The first class seen is kept (a weak reference, which doesn't hold the class in
// memory) with its field id; an object of any other class gets a plain lookup, so the result is
// always the field of the object's own class. Safe for any number of threads; kept for the
// library's life, with nothing to free.
class HandleFieldCache {
  public:
    HandleFieldCache() = default;
    HandleFieldCache(const HandleFieldCache&) = delete;
    HandleFieldCache& operator=(const HandleFieldCache&) = delete;

    // The field, or null with the VM's NoSuchFieldError pending.
    jfieldID find(JNIEnv* env, jobject obj) {
        ScopedLocalRef<jclass> cls(env, env->GetObjectClass(obj));
        if (!cls) return nullptr;
        // A class kept under an earlier load belongs to a VM that may be gone: not touched.
        unsigned generation = loadGeneration.load(std::memory_order_relaxed);
        if (published_.load(std::memory_order_acquire) == generation &&
            env->IsSameObject(cls.get(), cls_)) {
            return fid_;
        }
        jfieldID fid = env->GetFieldID(cls.get(), "handle", "I");
        if (fid != nullptr && !claimed_.exchange(true, std::memory_order_acq_rel)) {
            keep(env, cls.get(), fid, generation);
        }
        return fid;
    }

  private:
    // Runs once, on the thread that claimed the cache; cls_ and fid_ are written before they
    // are published and never again.
    void keep(JNIEnv* env, jclass cls, jfieldID fid, unsigned generation) {
        jweak weak = env->NewWeakGlobalRef(cls);
        if (weak == nullptr) {
            // Keeping the id is only a saving; the lookup itself succeeded.
            env->ExceptionClear();
            return;
        }
        cls_ = weak;
        fid_ = fid;
        published_.store(generation, std::memory_order_release);
    }

    std::atomic<bool> claimed_{false};
    std::atomic<unsigned> published_{0};  // the load whose class is kept; 0: none yet
    jweak cls_ = nullptr;
    jfieldID fid_ = nullptr;
};

}  // namespace orvela
