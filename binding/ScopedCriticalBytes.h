#pragma once

#include <jni.h>

namespace orvela {

// A Java byte array's elements held with GetPrimitiveArrayCritical for the scope, released
// with mode 0 (copied back when the VM gave a copy). While it is held the thread must make no
// JNI call and must not block: the collector may wait for the release. get() is null when the
// VM could not provide the elements (OutOfMemoryError may then be pending).
class ScopedCriticalBytes {
  public:
    ScopedCriticalBytes(JNIEnv* env, jbyteArray array)
        : env_(env),
          array_(array),
          bytes_(static_cast<jbyte*>(env->GetPrimitiveArrayCritical(array, nullptr))) {}
    ~ScopedCriticalBytes() {
        if (bytes_ != nullptr) env_->ReleasePrimitiveArrayCritical(array_, bytes_, 0);
    }
    ScopedCriticalBytes(const ScopedCriticalBytes&) = delete;
    ScopedCriticalBytes& operator=(const ScopedCriticalBytes&) = delete;

    jbyte* get() const { return bytes_; }
    explicit operator bool() const { return bytes_ != nullptr; }

  private:
    JNIEnv* env_;
    jbyteArray array_;
    jbyte* bytes_;
};

}  // namespace orvela
