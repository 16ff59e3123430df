#pragma once

#include <jni.h>

#include "binding/ThrowByName.h"

namespace orvela {

// The modified UTF-8 bytes of a Java string, released when the scope ends. When there are none,
// c_str() is null and an exception is pending: NullPointerException for a null string (with
// `nullMessage`, usually the argument's name, or without a message), else the VM's own.
class ScopedUtfChars {
  public:
    ScopedUtfChars(JNIEnv* env, jstring str, const char* nullMessage = nullptr)
        : env_(env), str_(str), chars_(str ? env->GetStringUTFChars(str, nullptr) : nullptr) {
        if (str == nullptr) throwNullPointer(env, nullMessage);
    }
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
