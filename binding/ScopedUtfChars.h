#pragma once

#include <jni.h>

namespace orvela {

// The modified UTF-8 bytes of a Java string, released when the scope ends. When the VM can't
// supply them, c_str() is null and the VM's exception is pending.
class ScopedUtfChars {
  public:
    ScopedUtfChars(JNIEnv* env, jstring str)
        : env_(env), str_(str), chars_(str ? env->GetStringUTFChars(str, nullptr) : nullptr) {}
    ~ScopedUtfChars() {
        if (chars_ != nullptr) env_->ReleaseStringUTFChars(str_, chars_);
    }
    ScopedUtfChars(const ScopedUtfChars&) = delete;
    ScopedUtfChars& operator=(const ScopedUtfChars&) = delete;

    const char* c_str() const { return chars_; }
    explicit operator bool() const { return chars_ != nullptr; }

  private:
    JNIEnv* env_;
    jstring str_;
    const char* chars_;
};

}  // namespace orvela
