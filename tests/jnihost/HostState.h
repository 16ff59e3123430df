#pragma once

// The host's model of the Java side: classes, objects, references, threads' envs. Internal
// to the host; tests use JniHost.h.

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "tests/jnihost/Descriptor.h"
#include "tests/jnihost/JniHost.h"

namespace orvela::jnihost {

struct ClassDef;

// A Java monitor: recursive, held by one thread at a time. Guarded by HostState::mutex.
struct Monitor {
    std::thread::id owner;
    int depth = 0;
    int waiters = 0;
    std::condition_variable released;
};

struct Object {
    enum class Kind { Instance, Class, String, ByteArray };
    Kind kind = Kind::Instance;
    ClassDef* cls = nullptr;       // the object's own class
    ClassDef* mirrorOf = nullptr;  // Kind::Class: the class this object stands for
    std::map<std::string, jint> ints;
    std::string utf;                     // Kind::String: modified UTF-8 bytes
    std::vector<jbyte> bytes;            // Kind::ByteArray
    std::optional<std::string> message;  // throwables
    Monitor monitor;
    size_t refCount = 0;  // live references to it
    size_t slot = 0;      // its index in HostState::objects
};

struct FieldDef {
    ClassDef* owner;
    std::string name;
    std::string sig;
};

struct MethodDef {
    ClassDef* owner;
    std::string name;
    std::string descriptor;
    Signature sig;
    MethodFn fn;
};

struct ClassDef {
    std::string name;
    std::deque<FieldDef> fields;  // deques: ids are addresses and must stay put
    std::deque<MethodDef> methods;
    Object* mirror = nullptr;
};

// What a jobject points to. Deleting the reference frees it. The object lives on, except a
// byte array whose last reference goes: nothing else can reach it, so it is freed as a
// collector would free it, and a long run doesn't pile up every buffer it ever returned.
struct Ref {
    Object* obj;
};

struct EnvImpl {
    JNIEnv env;  // first: a JNIEnv* is an EnvImpl*
    HostState* state;
    std::thread::id thread;
    Object* pending = nullptr;
    // Elements handed out by GetPrimitiveArrayCritical and not yet released, innermost last.
    std::vector<const jbyte*> criticals;
};

struct VmImpl {
    JavaVM vm;  // first: a JavaVM* is a VmImpl*
    HostState* state;
};

struct Injection {
    Fault fault;
    int remaining;  // -1: every matching call
    std::string name;
    int skip;
};

inline EnvImpl* envImpl(JNIEnv* env) {
    return reinterpret_cast<EnvImpl*>(env);
}

// Prints msg and aborts: misuse a VM would crash on, or a slot the host lacks.
[[noreturn]] void fatal(const std::string& msg);

struct HostState {
    HostState();
    ~HostState();
    HostState(const HostState&) = delete;
    HostState& operator=(const HostState&) = delete;

    JNINativeInterface_ functions;
    JNIInvokeInterface_ invoke;
    VmImpl vm;
    // Unique in the process: weak references outlive their host (a library may keep one from
    // test to test), and this tells which host made one.
    const unsigned long long id;

    // Guards everything below, and every object's fields and monitor (not the elements of a
    // byte array, whose length is fixed when it is made).
    std::mutex mutex;
    std::map<std::thread::id, std::unique_ptr<EnvImpl>> envs;
    std::map<std::string, std::unique_ptr<ClassDef>> classes;
    std::vector<std::unique_ptr<Object>> objects;
    std::unordered_set<Ref*> refs;
    std::unordered_set<const void*> memberIds;
    std::unordered_set<const char*> utfChars;
    // The storage of freed byte arrays, kept for new ones as a VM reuses its heap: Wine's
    // heap takes every block above 64 KiB from fresh pages, which a VM's arrays don't pay.
    // Only blocks of at least kSpareMinBytes are kept, at most kSpareMaxCount of them.
    static constexpr size_t kSpareMinBytes = 64 * 1024;
    static constexpr size_t kSpareMaxCount = 8;
    std::vector<std::vector<jbyte>> spareBytes;
    std::vector<std::string> violations;
    bool strict = false;
    size_t monitorsHeld = 0;
    size_t criticalsHeld = 0;
    std::vector<Injection> injections;
    std::function<void(const char* slot)> enterHook;

    EnvImpl* envOfThisThread();

    // The functions named ...Locked expect `mutex` held; the others take it.
    ClassDef* findClassLocked(const std::string& name);
    ClassDef* defineClassLocked(const std::string& name);  // the existing one, or a new one
    Object* newObjectLocked(Object::Kind kind, ClassDef* cls);
    jobject newRefLocked(Object* obj);
    jobject newRef(Object* obj);
    bool deleteRef(jobject ref);  // false when ref is not a live reference
    void freeObjectLocked(Object* obj);
    // Spare storage with room for len bytes (the smallest that has it), else none; its
    // contents are undefined.
    std::vector<jbyte> takeSpareBytesLocked(size_t len);
    Object* deref(jobject ref);  // null for null; aborts on a deleted or forged reference
    const FieldDef* field(jfieldID id);
    const MethodDef* method(jmethodID id);

    void violation(const std::string& what);
    void violationLocked(const std::string& what);
    bool injectedFailure(Fault fault, const std::string& name);

    // Makes a new throwable of `className` the pending exception of env.
    void raise(EnvImpl* env, const std::string& className, std::optional<std::string> message);

    void fillFunctionTables();  // EnvFunctions.cpp
};

}  // namespace orvela::jnihost
