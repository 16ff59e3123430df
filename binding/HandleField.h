#pragma once

#include <jni.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>

#include "binding/HandleRegistry.h"
#include "binding/ScopedLocalRef.h"
#include "binding/ScopedMonitor.h"
#include "binding/ThrowByName.h"

namespace orvela {

namespace detail {

// The ID of the int field "handle" per class, so that a call on a known class makes no
// GetFieldID. A slot holds a weak reference to its class and the field's ID; a caller compares
// its object's class with IsSameObject, which never matches a class that has been unloaded, so
// an ID is only ever used with the class it was found in. Slots are filled in order and never
// emptied (one whose class is gone is filled again); they are read without a lock, and the few
// writers take one.
class HandleFieldCache {
  public:
    // The field of `cls`, or null with the VM's NoSuchFieldError pending (nothing is kept then).
    jfieldID find(JNIEnv* env, jclass cls) {
        for (Slot& slot : slots_) {
            jweak known = slot.cls.load(std::memory_order_acquire);
            if (known == nullptr) break;
            if (env->IsSameObject(known, cls)) return slot.field.load(std::memory_order_relaxed);
        }
        jfieldID field = env->GetFieldID(cls, "handle", "I");
        if (field != nullptr) remember(env, cls, field);
        return field;
    }

  private:
    // A library serves a handful of classes; any beyond this many are looked up every time.
    static constexpr size_t kSlots = 8;

    struct Slot {
        std::atomic<jweak> cls{nullptr};
        std::atomic<jfieldID> field{nullptr};
    };

    void remember(JNIEnv* env, jclass cls, jfieldID field) {
        std::lock_guard<std::mutex> lock(addMutex_);
        Slot* free = nullptr;
        for (Slot& slot : slots_) {
            jweak known = slot.cls.load(std::memory_order_relaxed);
            if (known == nullptr) {
                if (free == nullptr) free = &slot;
                break;
            }
            if (env->IsSameObject(known, cls)) return;  // another thread came first
            // A slot whose class is gone is taken again. Its old reference stays allocated: a
            // reader may be comparing with it right now (it can't match: its class is gone).
            if (free == nullptr && env->IsSameObject(known, nullptr)) free = &slot;
        }
        if (free == nullptr) return;
        jweak weak = env->NewWeakGlobalRef(cls);
        if (weak == nullptr) {
            // No memory for the reference: the field was found all the same.
            env->ExceptionClear();
            return;
        }
        // The ID first: a reader that sees the new class also sees its field.
        free->field.store(field, std::memory_order_relaxed);
        free->cls.store(weak, std::memory_order_release);
    }

    Slot slots_[kSlots];
    std::mutex addMutex_;
};

// One cache per kind of record (the classes that hold one kind are few, mostly one), so that
// a look-up mostly compares with one class only.
template <typename Record>
HandleFieldCache& handleFieldCacheOf() {
    static HandleFieldCache cache;
    return cache;
}

}  // namespace detail

// The int field "handle" of obj's class, or null with the VM's NoSuchFieldError pending. `Record`
// is the kind of record the field designates.
template <typename Record = void>
jfieldID findHandleField(JNIEnv* env, jobject obj) {
    ScopedLocalRef<jclass> cls(env, env->GetObjectClass(obj));
    if (!cls) return nullptr;
    return detail::handleFieldCacheOf<Record>().find(env, cls.get());
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
    jfieldID fid = findHandleField<Record>(env, obj);
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
    jfieldID handleField = findHandleField<Record>(env, obj);
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
