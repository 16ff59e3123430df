// The JNIEnv and JavaVM function tables of the host.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iterator>
#include <mutex>
#include <string>
#include <unordered_set>
#include <utility>

#include "tests/jnihost/HostState.h"

namespace orvela::jnihost {

namespace {

const char* const kSlotNames[] = {
#include "tests/jnihost/EnvSlotNames.inc"
};
constexpr size_t kSlotCount = sizeof(JNINativeInterface_) / sizeof(void*);
static_assert(sizeof(kSlotNames) / sizeof(kSlotNames[0]) == kSlotCount,
              "EnvSlotNames.inc does not match this jni.h");

const char* const kInvokeSlotNames[] = {
    "reserved0",           "reserved1",           "reserved2", "DestroyJavaVM",
    "AttachCurrentThread", "DetachCurrentThread", "GetEnv",    "AttachCurrentThreadAsDaemon",
};
constexpr size_t kInvokeSlotCount = sizeof(JNIInvokeInterface_) / sizeof(void*);
static_assert(sizeof(kInvokeSlotNames) / sizeof(kInvokeSlotNames[0]) == kInvokeSlotCount,
              "invoke slot names do not match this jni.h");

// Every slot the host does not implement stops the test, naming the slot. The stub never
// returns, so its parameter list doesn't matter, even for stdcall.
template <size_t N>
void JNICALL unimplementedSlot(JNIEnv*) {
    fatal(std::string("JNI slot ") + kSlotNames[N] + " not implemented by the test host");
}
template <size_t N>
void JNICALL unimplementedInvokeSlot(JavaVM*) {
    fatal(std::string("JavaVM slot ") + kInvokeSlotNames[N] + " not implemented by the test host");
}
template <size_t... I>
void fillUnimplemented(void** slots, std::index_sequence<I...>) {
    ((slots[I] = reinterpret_cast<void*>(&unimplementedSlot<I>)), ...);
}
template <size_t... I>
void fillUnimplementedInvoke(void** slots, std::index_sequence<I...>) {
    ((slots[I] = reinterpret_cast<void*>(&unimplementedInvokeSlot<I>)), ...);
}

// The start of every call: the env must be the calling thread's, the thread must hold no
// array elements of GetPrimitiveArrayCritical (unless the call is one of the critical pair), and
// (unless JNI allows the call with an exception pending) no exception may be pending.
EnvImpl* enter(JNIEnv* env, const char* slot, bool allowedWhilePending = false,
               bool allowedInCritical = false) {
    EnvImpl* e = envImpl(env);
    if (e->state->enterHook) e->state->enterHook(slot);
    if (e->thread != std::this_thread::get_id()) {
        e->state->violation(std::string(slot) + " called with another thread's JNIEnv");
    }
    if (!allowedInCritical && !e->criticals.empty()) {
        e->state->violation(std::string(slot) + " called inside a critical region");
    }
    if (!allowedWhilePending && e->pending != nullptr) {
        e->state->violation(std::string(slot) + " called with " + e->pending->cls->name +
                            " pending");
    }
    return e;
}

// The class a jclass stands for; a violation (and null) when it is no class.
ClassDef* classOf(EnvImpl* e, jclass clazz, const char* slot) {
    Object* obj = e->state->deref(clazz);
    if (obj == nullptr || obj->kind != Object::Kind::Class) {
        e->state->violation(std::string(slot) + " given something that is not a class");
        return nullptr;
    }
    return obj->mirrorOf;
}

// The object behind a non-null reference of the expected kind; a violation (and null) else.
Object* objectOf(EnvImpl* e, jobject ref, Object::Kind kind, const char* slot) {
    Object* obj = e->state->deref(ref);
    if (obj == nullptr || obj->kind != kind) {
        e->state->violation(std::string(slot) + (obj == nullptr
                                                     ? " given null"
                                                     : " given an object of the wrong kind"));
        return nullptr;
    }
    return obj;
}

std::vector<jvalue> decodeArgs(const Signature& sig, va_list ap) {
    std::vector<jvalue> values;
    for (char type : sig.args) {
        jvalue v{};
        switch (type) {
            case 'Z':
                v.z = static_cast<jboolean>(va_arg(ap, int));
                break;
            case 'B':
                v.b = static_cast<jbyte>(va_arg(ap, int));
                break;
            case 'C':
                v.c = static_cast<jchar>(va_arg(ap, int));
                break;
            case 'S':
                v.s = static_cast<jshort>(va_arg(ap, int));
                break;
            case 'I':
                v.i = va_arg(ap, jint);
                break;
            case 'J':
                v.j = va_arg(ap, jlong);
                break;
            case 'F':
                v.f = static_cast<jfloat>(va_arg(ap, double));
                break;
            case 'D':
                v.d = va_arg(ap, double);
                break;
            default:
                v.l = va_arg(ap, jobject);
                break;
        }
        values.push_back(v);
    }
    return values;
}

std::vector<jvalue> copyArgs(const Signature& sig, const jvalue* args) {
    return std::vector<jvalue>(args, args + sig.args.size());
}

// ---- version, classes, exceptions

jint JNICALL GetVersion(JNIEnv* env) {
    enter(env, "GetVersion");
    return JNI_VERSION_10;
}

jclass JNICALL FindClass(JNIEnv* env, const char* name) {
    EnvImpl* e = enter(env, "FindClass");
    HostState& s = *e->state;
    if (name == nullptr) fatal("FindClass with a null name");
    if (!s.injectedFailure(Fault::FindClass, name)) {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (ClassDef* cls = s.findClassLocked(name)) {
            return static_cast<jclass>(s.newRefLocked(cls->mirror));
        }
    }
    s.raise(e, "java/lang/NoClassDefFoundError", std::string(name));
    return nullptr;
}

jint JNICALL ThrowNew(JNIEnv* env, jclass clazz, const char* msg) {
    EnvImpl* e = enter(env, "ThrowNew");
    ClassDef* cls = classOf(e, clazz, "ThrowNew");
    if (cls == nullptr) return JNI_ERR;
    e->state->raise(e, cls->name, msg ? std::optional<std::string>(msg) : std::nullopt);
    return JNI_OK;
}

jint JNICALL Throw(JNIEnv* env, jthrowable obj) {
    EnvImpl* e = enter(env, "Throw");
    Object* thrown = e->state->deref(obj);
    if (thrown == nullptr) {
        e->state->violation("Throw given null");
        return JNI_ERR;
    }
    e->pending = thrown;
    return JNI_OK;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
    EnvImpl* e = enter(env, "ExceptionOccurred", true);
    if (e->pending == nullptr) return nullptr;
    return static_cast<jthrowable>(e->state->newRef(e->pending));
}

jboolean JNICALL ExceptionCheck(JNIEnv* env) {
    EnvImpl* e = enter(env, "ExceptionCheck", true);
    return e->pending != nullptr ? JNI_TRUE : JNI_FALSE;
}

void JNICALL ExceptionClear(JNIEnv* env) {
    EnvImpl* e = enter(env, "ExceptionClear", true);
    e->pending = nullptr;
}

void JNICALL ExceptionDescribe(JNIEnv* env) {
    EnvImpl* e = enter(env, "ExceptionDescribe", true);
    if (e->pending == nullptr) return;
    std::fprintf(stderr, "jnihost: pending %s: %s\n", e->pending->cls->name.c_str(),
                 e->pending->message ? e->pending->message->c_str() : "(no message)");
    e->pending = nullptr;
}

// ---- references and objects

void JNICALL DeleteLocalRef(JNIEnv* env, jobject ref) {
    EnvImpl* e = enter(env, "DeleteLocalRef", true);
    if (ref == nullptr) return;
    if (!e->state->deleteRef(ref))
        e->state->violation("DeleteLocalRef of a deleted or invalid reference");
}

// Weak global references: never freed, so a library may keep one after its host is gone and
// compare with it in a later host, where it reads as cleared. Only classes and instances that
// are not arrays live as long as their host; a weak reference to anything else is refused.
struct WeakRef {
    unsigned long long hostId;
    Object* obj;
};

struct WeakRefs {
    std::mutex mutex;
    std::unordered_set<const WeakRef*> all;
};

WeakRefs& weakRefs() {
    static WeakRefs* refs = new WeakRefs;  // never destroyed: libraries may use it at exit
    return *refs;
}

jweak JNICALL NewWeakGlobalRef(JNIEnv* env, jobject obj) {
    EnvImpl* e = enter(env, "NewWeakGlobalRef");
    Object* o = e->state->deref(obj);
    if (o == nullptr) return nullptr;
    if (o->kind != Object::Kind::Class && o->kind != Object::Kind::Instance) {
        e->state->violation("NewWeakGlobalRef of an array or string");
        return nullptr;
    }
    WeakRef* weak = new WeakRef{e->state->id, o};
    std::lock_guard<std::mutex> lock(weakRefs().mutex);
    weakRefs().all.insert(weak);
    return reinterpret_cast<jweak>(weak);
}

// What a local or weak reference stands for; null for null and for a weak reference of a host
// that is gone.
Object* resolve(EnvImpl* e, jobject ref) {
    if (ref == nullptr) return nullptr;
    {
        std::lock_guard<std::mutex> lock(weakRefs().mutex);
        auto it = weakRefs().all.find(reinterpret_cast<const WeakRef*>(ref));
        if (it != weakRefs().all.end()) {
            return (*it)->hostId == e->state->id ? (*it)->obj : nullptr;
        }
    }
    return e->state->deref(ref);
}

jboolean JNICALL IsSameObject(JNIEnv* env, jobject a, jobject b) {
    EnvImpl* e = enter(env, "IsSameObject");
    return resolve(e, a) == resolve(e, b) ? JNI_TRUE : JNI_FALSE;
}

jclass JNICALL GetObjectClass(JNIEnv* env, jobject obj) {
    EnvImpl* e = enter(env, "GetObjectClass");
    Object* o = e->state->deref(obj);
    if (o == nullptr) fatal("GetObjectClass of null");
    return static_cast<jclass>(e->state->newRef(o->cls->mirror));
}

// A field or method of clazz by name and signature, as GetFieldID and GetMethodID look it up;
// its address is its id. Null with `error` pending when the class has none.
template <typename Member>
Member* findMember(EnvImpl* e, const char* slot, Fault fault, const char* error, jclass clazz,
                   const char* name, const char* sig, std::deque<Member> ClassDef::*members,
                   std::string Member::*signature) {
    HostState& s = *e->state;
    ClassDef* cls = classOf(e, clazz, slot);
    if (cls == nullptr || name == nullptr || sig == nullptr) return nullptr;
    if (!s.injectedFailure(fault, name)) {
        std::lock_guard<std::mutex> lock(s.mutex);
        for (Member& m : cls->*members) {
            if (m.name == name && m.*signature == sig) return &m;
        }
    }
    s.raise(e, error, std::string(name));
    return nullptr;
}

jfieldID JNICALL GetFieldID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
    return reinterpret_cast<jfieldID>(findMember(
        enter(env, "GetFieldID"), "GetFieldID", Fault::GetFieldID, "java/lang/NoSuchFieldError",
        clazz, name, sig, &ClassDef::fields, &FieldDef::sig));
}

// The field `id` of obj, checked to belong to obj's class and to be an int.
const FieldDef* intFieldOf(EnvImpl* e, Object* obj, jfieldID id, const char* slot) {
    const FieldDef* f = e->state->field(id);
    if (obj == nullptr || obj->kind != Object::Kind::Instance || obj->cls != f->owner ||
        f->sig != "I") {
        e->state->violation(std::string(slot) + " of field " + f->owner->name + "." + f->name +
                            " on an object that lacks it");
        return nullptr;
    }
    return f;
}

jint JNICALL GetIntField(JNIEnv* env, jobject obj, jfieldID fieldID) {
    EnvImpl* e = enter(env, "GetIntField");
    Object* o = e->state->deref(obj);
    const FieldDef* f = intFieldOf(e, o, fieldID, "GetIntField");
    if (f == nullptr) return 0;
    std::lock_guard<std::mutex> lock(e->state->mutex);
    return o->ints[f->name];
}

void JNICALL SetIntField(JNIEnv* env, jobject obj, jfieldID fieldID, jint value) {
    EnvImpl* e = enter(env, "SetIntField");
    Object* o = e->state->deref(obj);
    const FieldDef* f = intFieldOf(e, o, fieldID, "SetIntField");
    if (f == nullptr) return;
    std::lock_guard<std::mutex> lock(e->state->mutex);
    o->ints[f->name] = value;
}

jmethodID JNICALL GetMethodID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
    return reinterpret_cast<jmethodID>(findMember(
        enter(env, "GetMethodID"), "GetMethodID", Fault::GetMethodID, "java/lang/NoSuchMethodError",
        clazz, name, sig, &ClassDef::methods, &MethodDef::descriptor));
}

// ---- calls

// The method `id`, checked to be a void instance method of obj's class.
const MethodDef* voidMethodOf(EnvImpl* e, Object* obj, jmethodID id) {
    const MethodDef* m = e->state->method(id);
    if (obj == nullptr) fatal("CallVoidMethod on null");
    if (obj->cls != m->owner || m->name == "<init>" || m->sig.returnType != 'V') {
        e->state->violation("CallVoidMethod of " + m->owner->name + "." + m->name + m->descriptor +
                            " on an object of " + obj->cls->name);
        return nullptr;
    }
    return m;
}

void JNICALL CallVoidMethodV(JNIEnv* env, jobject obj, jmethodID methodID, va_list args) {
    EnvImpl* e = enter(env, "CallVoidMethod");
    const MethodDef* m = voidMethodOf(e, e->state->deref(obj), methodID);
    if (m == nullptr) return;
    Args decoded(decodeArgs(m->sig, args));
    if (m->fn) m->fn(env, obj, decoded);
}

void JNICALL CallVoidMethod(JNIEnv* env, jobject obj, jmethodID methodID, ...) {
    va_list args;
    va_start(args, methodID);
    CallVoidMethodV(env, obj, methodID, args);
    va_end(args);
}

void JNICALL CallVoidMethodA(JNIEnv* env, jobject obj, jmethodID methodID, const jvalue* args) {
    EnvImpl* e = enter(env, "CallVoidMethodA");
    const MethodDef* m = voidMethodOf(e, e->state->deref(obj), methodID);
    if (m == nullptr) return;
    Args decoded(copyArgs(m->sig, args));
    if (m->fn) m->fn(env, obj, decoded);
}

// Allocates an instance of clazz and runs the constructor methodID with args; null (and the
// reference dropped) when the constructor throws.
template <typename DecodeArgs>
jobject construct(EnvImpl* e, jclass clazz, jmethodID methodID, DecodeArgs decodeArgsOf) {
    HostState& s = *e->state;
    ClassDef* cls = classOf(e, clazz, "NewObject");
    if (cls == nullptr) return nullptr;
    const MethodDef* m = s.method(methodID);
    if (m->owner != cls || m->name != "<init>") {
        s.violation("NewObject of " + cls->name + " with " + m->owner->name + "." + m->name +
                    m->descriptor);
        return nullptr;
    }
    if (s.injectedFailure(Fault::NewObject, cls->name)) {
        s.raise(e, "java/lang/OutOfMemoryError", std::nullopt);
        return nullptr;
    }
    jobject ref;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        ref = s.newRefLocked(s.newObjectLocked(Object::Kind::Instance, cls));
    }
    Args decoded(decodeArgsOf(m->sig));
    if (m->fn) m->fn(&e->env, ref, decoded);
    if (e->pending != nullptr) {
        s.deleteRef(ref);
        return nullptr;
    }
    return ref;
}

jobject JNICALL NewObjectV(JNIEnv* env, jclass clazz, jmethodID methodID, va_list args) {
    return construct(enter(env, "NewObject"), clazz, methodID,
                     [&](const Signature& sig) { return decodeArgs(sig, args); });
}

jobject JNICALL NewObject(JNIEnv* env, jclass clazz, jmethodID methodID, ...) {
    va_list args;
    va_start(args, methodID);
    jobject result = NewObjectV(env, clazz, methodID, args);
    va_end(args);
    return result;
}

jobject JNICALL NewObjectA(JNIEnv* env, jclass clazz, jmethodID methodID, const jvalue* args) {
    return construct(enter(env, "NewObjectA"), clazz, methodID,
                     [&](const Signature& sig) { return copyArgs(sig, args); });
}

// ---- monitors

jint JNICALL MonitorEnter(JNIEnv* env, jobject obj) {
    EnvImpl* e = enter(env, "MonitorEnter");
    HostState& s = *e->state;
    Object* o = s.deref(obj);
    if (o == nullptr) fatal("MonitorEnter on null");
    if (s.injectedFailure(Fault::MonitorEnter, o->cls->name)) return JNI_ERR;
    std::unique_lock<std::mutex> lock(s.mutex);
    Monitor& m = o->monitor;
    if (m.depth > 0 && m.owner != e->thread) {
        ++m.waiters;
        m.released.wait(lock, [&m] { return m.depth == 0; });
        --m.waiters;
    }
    m.owner = e->thread;
    ++m.depth;
    ++s.monitorsHeld;
    return JNI_OK;
}

jint JNICALL MonitorExit(JNIEnv* env, jobject obj) {
    EnvImpl* e = enter(env, "MonitorExit", true);
    HostState& s = *e->state;
    Object* o = s.deref(obj);
    if (o == nullptr) fatal("MonitorExit on null");
    std::lock_guard<std::mutex> lock(s.mutex);
    Monitor& m = o->monitor;
    if (m.depth == 0 || m.owner != e->thread) {
        s.violationLocked("MonitorExit of a monitor the thread does not hold");
        return JNI_ERR;
    }
    --s.monitorsHeld;
    if (--m.depth == 0) {
        m.owner = std::thread::id();
        m.released.notify_all();
    }
    return JNI_OK;
}

// ---- strings

const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring str, jboolean* isCopy) {
    EnvImpl* e = enter(env, "GetStringUTFChars");
    HostState& s = *e->state;
    Object* o = objectOf(e, str, Object::Kind::String, "GetStringUTFChars");
    if (o == nullptr) return nullptr;
    if (s.injectedFailure(Fault::GetStringUTFChars, o->utf)) {
        s.raise(e, "java/lang/OutOfMemoryError", std::nullopt);
        return nullptr;
    }
    char* chars = new char[o->utf.size() + 1];
    std::memcpy(chars, o->utf.c_str(), o->utf.size() + 1);
    std::lock_guard<std::mutex> lock(s.mutex);
    s.utfChars.insert(chars);
    if (isCopy != nullptr) *isCopy = JNI_TRUE;
    return chars;
}

void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring str, const char* chars) {
    EnvImpl* e = enter(env, "ReleaseStringUTFChars", true);
    HostState& s = *e->state;
    objectOf(e, str, Object::Kind::String, "ReleaseStringUTFChars");
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.utfChars.erase(chars) == 0) {
        s.violationLocked("ReleaseStringUTFChars of chars not obtained, or released twice");
        return;
    }
    delete[] chars;
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* utf) {
    EnvImpl* e = enter(env, "NewStringUTF");
    HostState& s = *e->state;
    if (utf == nullptr) return nullptr;
    if (s.injectedFailure(Fault::NewStringUTF, utf)) {
        s.raise(e, "java/lang/OutOfMemoryError", std::nullopt);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(s.mutex);
    Object* o = s.newObjectLocked(Object::Kind::String, s.findClassLocked("java/lang/String"));
    o->utf = utf;
    return static_cast<jstring>(s.newRefLocked(o));
}

// ---- byte arrays

jbyteArray JNICALL NewByteArray(JNIEnv* env, jsize len) {
    EnvImpl* e = enter(env, "NewByteArray");
    HostState& s = *e->state;
    if (len < 0) {
        s.raise(e, "java/lang/NegativeArraySizeException", std::to_string(len));
        return nullptr;
    }
    if (s.injectedFailure(Fault::NewByteArray, "[B")) {
        s.raise(e, "java/lang/OutOfMemoryError", std::nullopt);
        return nullptr;
    }
    std::vector<jbyte> bytes;
    if (static_cast<size_t>(len) >= HostState::kSpareMinBytes) {
        std::lock_guard<std::mutex> lock(s.mutex);
        bytes = s.takeSpareBytesLocked(static_cast<size_t>(len));
    }
    // The bytes are zeroed without the lock, so that other threads' calls don't wait for it.
    bytes.assign(static_cast<size_t>(len), 0);
    std::lock_guard<std::mutex> lock(s.mutex);
    Object* o = s.newObjectLocked(Object::Kind::ByteArray, s.findClassLocked("[B"));
    o->bytes = std::move(bytes);
    return static_cast<jbyteArray>(s.newRefLocked(o));
}

jsize JNICALL GetArrayLength(JNIEnv* env, jarray array) {
    EnvImpl* e = enter(env, "GetArrayLength");
    Object* o = objectOf(e, array, Object::Kind::ByteArray, "GetArrayLength");
    if (o == nullptr) return 0;
    return static_cast<jsize>(o->bytes.size());
}

// An array's length never changes, and, as in a VM, its elements are copied without a lock:
// a thread that filled one array doesn't hold up another copying out of a different one.

// True when [start, start+len) lies in o's bytes; else ArrayIndexOutOfBoundsException pending.
bool regionInBounds(EnvImpl* e, Object* o, jsize start, jsize len) {
    jsize length = static_cast<jsize>(o->bytes.size());
    if (start >= 0 && len >= 0 && start <= length - len) return true;
    e->state->raise(e, "java/lang/ArrayIndexOutOfBoundsException",
                    "Array region " + std::to_string(start) + ".." +
                        std::to_string(static_cast<long long>(start) + len) +
                        " out of bounds for length " + std::to_string(length));
    return false;
}

void JNICALL GetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len, jbyte* buf) {
    EnvImpl* e = enter(env, "GetByteArrayRegion");
    Object* o = objectOf(e, array, Object::Kind::ByteArray, "GetByteArrayRegion");
    if (o == nullptr || !regionInBounds(e, o, start, len) || len == 0) return;
    std::memcpy(buf, o->bytes.data() + start, static_cast<size_t>(len));
}

void JNICALL SetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len,
                                const jbyte* buf) {
    EnvImpl* e = enter(env, "SetByteArrayRegion");
    Object* o = objectOf(e, array, Object::Kind::ByteArray, "SetByteArrayRegion");
    if (o == nullptr || !regionInBounds(e, o, start, len) || len == 0) return;
    std::memcpy(o->bytes.data() + start, buf, static_cast<size_t>(len));
}

// The host's arrays never move, so the elements themselves are handed out; an empty array
// gets a non-null pointer all the same.
void* JNICALL GetPrimitiveArrayCritical(JNIEnv* env, jarray array, jboolean* isCopy) {
    EnvImpl* e = enter(env, "GetPrimitiveArrayCritical", false, true);
    HostState& s = *e->state;
    Object* o = objectOf(e, array, Object::Kind::ByteArray, "GetPrimitiveArrayCritical");
    if (o == nullptr) return nullptr;
    if (s.injectedFailure(Fault::GetPrimitiveArrayCritical, "[B")) {
        s.raise(e, "java/lang/OutOfMemoryError", std::nullopt);
        return nullptr;
    }
    static jbyte noElements;
    jbyte* elements = o->bytes.empty() ? &noElements : o->bytes.data();
    std::lock_guard<std::mutex> lock(s.mutex);
    e->criticals.push_back(elements);
    ++s.criticalsHeld;
    if (isCopy != nullptr) *isCopy = JNI_FALSE;
    return elements;
}

void JNICALL ReleasePrimitiveArrayCritical(JNIEnv* env, jarray array, void* carray, jint mode) {
    EnvImpl* e = enter(env, "ReleasePrimitiveArrayCritical", true, true);
    HostState& s = *e->state;
    objectOf(e, array, Object::Kind::ByteArray, "ReleasePrimitiveArrayCritical");
    if (mode != 0 && mode != JNI_COMMIT && mode != JNI_ABORT) {
        s.violation("ReleasePrimitiveArrayCritical with mode " + std::to_string(mode));
    }
    std::lock_guard<std::mutex> lock(s.mutex);
    auto held = std::find(e->criticals.rbegin(), e->criticals.rend(), carray);
    if (held == e->criticals.rend()) {
        s.violationLocked(
            "ReleasePrimitiveArrayCritical of elements not obtained, or released twice");
        return;
    }
    e->criticals.erase(std::next(held).base());
    --s.criticalsHeld;
}

// ---- the invoke interface

VmImpl* vmImpl(JavaVM* vm) {
    return reinterpret_cast<VmImpl*>(vm);
}

jint JNICALL GetEnv(JavaVM* vm, void** penv, jint version) {
    switch (version) {
        case JNI_VERSION_1_1:
        case JNI_VERSION_1_2:
        case JNI_VERSION_1_4:
        case JNI_VERSION_1_6:
        case JNI_VERSION_1_8:
        case JNI_VERSION_9:
        case JNI_VERSION_10:
            break;
        default:
            *penv = nullptr;
            return JNI_EVERSION;
    }
    *penv = &vmImpl(vm)->state->envOfThisThread()->env;
    return JNI_OK;
}

jint JNICALL AttachCurrentThread(JavaVM* vm, void** penv, void*) {
    *penv = &vmImpl(vm)->state->envOfThisThread()->env;
    return JNI_OK;
}

}  // namespace

void HostState::fillFunctionTables() {
    void* slots[kSlotCount];
    fillUnimplemented(slots, std::make_index_sequence<kSlotCount>());
    for (size_t i = 0; i < 4; ++i) slots[i] = nullptr;  // reserved0..3
    std::memcpy(&functions, slots, sizeof functions);

    functions.GetVersion = GetVersion;
    functions.FindClass = FindClass;
    functions.Throw = Throw;
    functions.ThrowNew = ThrowNew;
    functions.ExceptionOccurred = ExceptionOccurred;
    functions.ExceptionCheck = ExceptionCheck;
    functions.ExceptionClear = ExceptionClear;
    functions.ExceptionDescribe = ExceptionDescribe;
    functions.DeleteLocalRef = DeleteLocalRef;
    functions.GetObjectClass = GetObjectClass;
    functions.NewWeakGlobalRef = NewWeakGlobalRef;
    functions.IsSameObject = IsSameObject;
    functions.GetFieldID = GetFieldID;
    functions.GetIntField = GetIntField;
    functions.SetIntField = SetIntField;
    functions.GetMethodID = GetMethodID;
    functions.CallVoidMethod = CallVoidMethod;
    functions.CallVoidMethodV = CallVoidMethodV;
    functions.CallVoidMethodA = CallVoidMethodA;
    functions.NewObject = NewObject;
    functions.NewObjectV = NewObjectV;
    functions.NewObjectA = NewObjectA;
    functions.MonitorEnter = MonitorEnter;
    functions.MonitorExit = MonitorExit;
    functions.GetStringUTFChars = GetStringUTFChars;
    functions.ReleaseStringUTFChars = ReleaseStringUTFChars;
    functions.NewStringUTF = NewStringUTF;
    functions.NewByteArray = NewByteArray;
    functions.GetArrayLength = GetArrayLength;
    functions.GetByteArrayRegion = GetByteArrayRegion;
    functions.SetByteArrayRegion = SetByteArrayRegion;
    functions.GetPrimitiveArrayCritical = GetPrimitiveArrayCritical;
    functions.ReleasePrimitiveArrayCritical = ReleasePrimitiveArrayCritical;

    void* invokeSlots[kInvokeSlotCount];
    fillUnimplementedInvoke(invokeSlots, std::make_index_sequence<kInvokeSlotCount>());
    for (size_t i = 0; i < 3; ++i) invokeSlots[i] = nullptr;  // reserved0..2
    std::memcpy(&invoke, invokeSlots, sizeof invoke);
    invoke.GetEnv = GetEnv;
    invoke.AttachCurrentThread = AttachCurrentThread;
    invoke.AttachCurrentThreadAsDaemon = AttachCurrentThread;
}

}  // namespace orvela::jnihost
