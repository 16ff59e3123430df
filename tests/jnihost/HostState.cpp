#include "tests/jnihost/HostState.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace orvela::jnihost {

namespace {

// Classes every host has: the ones the libraries throw, and the classes of strings, arrays
// and class objects.
const char* const kPredefinedClasses[] = {
    "java/lang/Object",
    "java/lang/String",
    "[B",
    "java/lang/Throwable",
    "java/io/IOException",
    "java/io/InterruptedIOException",
    "java/lang/OutOfMemoryError",
    "java/lang/IllegalArgumentException",
    "java/lang/ArrayIndexOutOfBoundsException",
    "java/lang/NegativeArraySizeException",
    "java/lang/IllegalMonitorStateException",
    "java/lang/NoSuchFieldError",
    "java/lang/NoSuchMethodError",
    "java/lang/NoClassDefFoundError",
};

unsigned long long nextHostId() {
    static std::atomic<unsigned long long> last{0};
    return ++last;
}

}  // namespace

void fatal(const std::string& msg) {
    std::fprintf(stderr, "jnihost: %s\n", msg.c_str());
    std::fflush(stderr);
    std::abort();
}

HostState::HostState() : id(nextHostId()) {
    fillFunctionTables();
    vm.vm.functions = &invoke;
    vm.state = this;
    std::lock_guard<std::mutex> lock(mutex);
    defineClassLocked("java/lang/Class");
    for (const char* name : kPredefinedClasses) defineClassLocked(name);
}

HostState::~HostState() {
    for (Ref* ref : refs) delete ref;
    for (const char* chars : utfChars) delete[] chars;
}

EnvImpl* HostState::envOfThisThread() {
    std::lock_guard<std::mutex> lock(mutex);
    std::unique_ptr<EnvImpl>& env = envs[std::this_thread::get_id()];
    if (!env) {
        env = std::make_unique<EnvImpl>();
        env->env.functions = &functions;
        env->state = this;
        env->thread = std::this_thread::get_id();
    }
    return env.get();
}

ClassDef* HostState::findClassLocked(const std::string& name) {
    auto it = classes.find(name);
    return it == classes.end() ? nullptr : it->second.get();
}

ClassDef* HostState::defineClassLocked(const std::string& name) {
    if (ClassDef* existing = findClassLocked(name)) return existing;
    auto cls = std::make_unique<ClassDef>();
    cls->name = name;
    ClassDef* classClass =
        name == "java/lang/Class" ? cls.get() : findClassLocked("java/lang/Class");
    cls->mirror = newObjectLocked(Object::Kind::Class, classClass);
    cls->mirror->mirrorOf = cls.get();
    ClassDef* result = cls.get();
    classes.emplace(name, std::move(cls));
    return result;
}

Object* HostState::newObjectLocked(Object::Kind kind, ClassDef* cls) {
    auto obj = std::make_unique<Object>();
    obj->kind = kind;
    obj->cls = cls;
    if (kind == Object::Kind::Instance) {
        for (const FieldDef& f : cls->fields) obj->ints[f.name] = 0;
    }
    obj->slot = objects.size();
    objects.push_back(std::move(obj));
    return objects.back().get();
}

void HostState::freeObjectLocked(Object* obj) {
    if (obj->bytes.capacity() >= kSpareMinBytes && spareBytes.size() < kSpareMaxCount) {
        spareBytes.push_back(std::move(obj->bytes));
    }
    // The last object takes the freed one's slot.
    size_t slot = obj->slot;
    objects[slot] = std::move(objects.back());
    objects[slot]->slot = slot;
    objects.pop_back();
}

std::vector<jbyte> HostState::takeSpareBytesLocked(size_t len) {
    auto best = spareBytes.end();
    for (auto it = spareBytes.begin(); it != spareBytes.end(); ++it) {
        if (it->capacity() >= len &&
            (best == spareBytes.end() || it->capacity() < best->capacity()))
            best = it;
    }
    if (best == spareBytes.end()) return {};
    std::vector<jbyte> bytes = std::move(*best);
    spareBytes.erase(best);
    return bytes;
}

jobject HostState::newRefLocked(Object* obj) {
    Ref* ref = new Ref{obj};
    refs.insert(ref);
    ++obj->refCount;
    return reinterpret_cast<jobject>(ref);
}

jobject HostState::newRef(Object* obj) {
    std::lock_guard<std::mutex> lock(mutex);
    return newRefLocked(obj);
}

bool HostState::deleteRef(jobject ref) {
    std::lock_guard<std::mutex> lock(mutex);
    Ref* r = reinterpret_cast<Ref*>(ref);
    if (refs.erase(r) == 0) return false;
    Object* obj = r->obj;
    delete r;
    if (--obj->refCount == 0 && obj->kind == Object::Kind::ByteArray && obj->monitor.depth == 0 &&
        obj->monitor.waiters == 0) {
        freeObjectLocked(obj);
    }
    return true;
}

Object* HostState::deref(jobject ref) {
    if (ref == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    Ref* r = reinterpret_cast<Ref*>(ref);
    if (refs.count(r) == 0) fatal("use of a deleted or invalid reference");
    return r->obj;
}

const FieldDef* HostState::field(jfieldID id) {
    std::lock_guard<std::mutex> lock(mutex);
    if (memberIds.count(id) == 0) fatal("use of an invalid jfieldID");
    return reinterpret_cast<const FieldDef*>(id);
}

const MethodDef* HostState::method(jmethodID id) {
    std::lock_guard<std::mutex> lock(mutex);
    if (memberIds.count(id) == 0) fatal("use of an invalid jmethodID");
    return reinterpret_cast<const MethodDef*>(id);
}

void HostState::violationLocked(const std::string& what) {
    if (strict) fatal("JNI misuse: " + what);
    violations.push_back(what);
}

void HostState::violation(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex);
    violationLocked(what);
}

bool HostState::injectedFailure(Fault fault, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex);
    for (Injection& inj : injections) {
        if (inj.fault != fault || inj.remaining == 0) continue;
        if (!inj.name.empty() && inj.name != name) continue;
        if (inj.skip > 0) {
            --inj.skip;
            return false;
        }
        if (inj.remaining > 0) --inj.remaining;
        return true;
    }
    return false;
}

void HostState::raise(EnvImpl* env, const std::string& className,
                      std::optional<std::string> message) {
    std::lock_guard<std::mutex> lock(mutex);
    Object* thrown = newObjectLocked(Object::Kind::Instance, defineClassLocked(className));
    thrown->message = std::move(message);
    env->pending = thrown;
}

}  // namespace orvela::jnihost
