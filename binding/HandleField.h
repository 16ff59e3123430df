#pragma once

#include <jni.h>

#include <memory>

#include "binding/HandleRegistry.h"
#include "binding/ScopedLocalRef.h"
#include "binding/ScopedMonitor.h"
#include "binding/ThrowByName.h"

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

// copyRecordOf for an operation on the object: when there is no record, IOException
// `invalidMessage` takes the place of whatever the look-up left pending, and null is returned.
template <typename Record>
Record* copyRecordOrThrow(JNIEnv* env, jobject obj, const HandleRegistry<Record>& registry,
                          Record* out, const char* invalidMessage) {
    Record* copy = copyRecordOf(env, obj, registry, out);
    if (copy == nullptr) throwIOExceptionReplacing(env, invalidMessage);
    return copy;
}

// The close of a native object: takes obj's record out of the registry and sets "handle" to 0,
// so that no other call reaches the record's resources once they are being released. Null with
// IOException pending when the field can't be found ("GetFieldID failed", in place of the VM's
// error) or the handle designates no record ("Invalid handle").
template <typename Record>
std::unique_ptr<Record> takeRecordOrThrow(JNIEnv* env, jobject obj,
                                          HandleRegistry<Record>& registry) {
    jfieldID handleField = findHandleField(env, obj);
    if (handleField == nullptr) {
        throwIOExceptionReplacing(env, "GetFieldID failed");
        return nullptr;
    }
    std::unique_ptr<Record> record = registry.remove(env->GetIntField(obj, handleField));
    if (!record) {
        throwIOException(env, "Invalid handle");
        return nullptr;
    }
    env->SetIntField(obj, handleField, 0);
    return record;
}

}  // namespace orvela
