#pragma once

#include <jni.h>

#include "binding/ScopedLocalRef.h"

namespace orvela::icmp {

// A method of a Java listener or observer, looked up once per call. A failed look-up of a
// required method or a call that throws leaves its exception pending and stops the caller,
// which then makes no other JNI call. A null env (a caller without Java) makes every call a
// no-op.
class ListenerMethod {
  public:
    ListenerMethod(JNIEnv* env, jobject listener) : env_(env), listener_(listener) {}

    bool bind(const char* name, const char* signature) {
        if (env_ == nullptr) return true;
        if (listener_ == nullptr) return false;
        ScopedLocalRef<jclass> cls(env_, env_->GetObjectClass(listener_));
        if (cls.get() == nullptr) return false;
        method_ = env_->GetMethodID(cls.get(), name, signature);
        return method_ != nullptr;
    }

    // A method listeners may lack (those of callers that predate it): without it the look-up's
    // NoSuchMethodError is cleared and calls do nothing.
    bool bindOptional(const char* name, const char* signature) {
        if (bind(name, signature)) return true;
        if (env_->ExceptionCheck()) env_->ExceptionClear();
        return false;
    }

    template <typename... Args>
    bool call(Args... args) {
        if (env_ == nullptr || method_ == nullptr) return true;
        env_->CallVoidMethod(listener_, method_, args...);
        return !env_->ExceptionCheck();
    }

  private:
    JNIEnv* env_;
    jobject listener_;
    jmethodID method_ = nullptr;
};

}  // namespace orvela::icmp
