#pragma once

#include <jni.h>

namespace orvela {

// Holds a Java object's monitor for the scope. entered() is false when MonitorEnter failed;
// the monitor is then not held and nothing is released.
class ScopedMonitor {
  public:
    ScopedMonitor(JNIEnv* env, jobject obj)
        : env_(env), obj_(obj), entered_(env->MonitorEnter(obj) == JNI_OK) {}
    ~ScopedMonitor() {
        // MonitorExit is one of the calls JNI allows with an exception pending.
        if (entered_) env_->MonitorExit(obj_);
    }
    ScopedMonitor(const ScopedMonitor&) = delete;
    ScopedMonitor& operator=(const ScopedMonitor&) = delete;

    bool entered() const { return entered_; }

  private:
    JNIEnv* env_;
    jobject obj_;
    bool entered_;
};

}  // namespace orvela
