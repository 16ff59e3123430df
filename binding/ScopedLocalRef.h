#pragma once

#include <jni.h>

namespace orvela {

// A JNI local reference, deleted when the scope ends.
template <typename T>
class ScopedLocalRef {
  public:
    ScopedLocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
    ~ScopedLocalRef() {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
    }
    ScopedLocalRef(const ScopedLocalRef&) = delete;
    ScopedLocalRef& operator=(const ScopedLocalRef&) = delete;

    T get() const { return ref_; }
    // Hands the reference on (to be returned to Java) without deleting it.
    T release() {
        T ref = ref_;
        ref_ = nullptr;
        return ref;
    }
    explicit operator bool() const { return ref_ != nullptr; }

  private:
    JNIEnv* env_;
    T ref_;
};

}  // namespace orvela
