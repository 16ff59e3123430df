#pragma once

#include <jni.h>

#include "binding/HandleRegistry.h"
#include "binding/ScopedLocalRef.h"
#include "binding/ScopedMonitor.h"

namespace orvela {

// The int field "handle" of obj's class, or null with the VM's NoSuchFieldError pending.
inline jfieldID findHandleField(JNIEnv* env, jobject obj) {
    ScopedLocalRef<jclass> cls(env, env->GetObjectClass(obj));
    if (!cls) return nullptr;
    return env->GetFieldID(cls.get(), "handle", "I");
}

// Copies the record that obj's "handle" designates into *out, holding obj's monitor while the
// field is read and the record copied. Returns out, or null when the monitor can't be entered,
// the field can't be found (the VM's error is then pending) or the handle designates no
// record. Callers report null as "Invalid handle", replacing whatever is pending.
template <typename Record>
Record* copyRecordOf(JNIEnv* env, jobject obj, const HandleRegistry<Record>& registry,
                     Record* out) {
    ScopedMonitor monitor(env, obj);
    if (!monitor.entered()) return nullptr;
    jfieldID fid = findHandleField(env, obj);
    if (fid == nullptr) return nullptr;
    return registry.copy(env->GetIntField(obj, fid), out) ? out : nullptr;
}

}  // namespace orvela
