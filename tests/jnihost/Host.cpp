#include "tests/jnihost/HostState.h"

namespace orvela::jnihost {

namespace {

ClassDef* classDef(void* cls) {
    return static_cast<ClassDef*>(cls);
}

}  // namespace

ClassBuilder& ClassBuilder::intField(const std::string& name) {
    std::lock_guard<std::mutex> lock(state_.mutex);
    ClassDef* cls = classDef(cls_);
    cls->fields.push_back(FieldDef{cls, name, "I"});
    state_.memberIds.insert(&cls->fields.back());
    return *this;
}

ClassBuilder& ClassBuilder::method(const std::string& name, const std::string& descriptor,
                                   MethodFn fn) {
    Signature sig;
    if (!parseDescriptor(descriptor, &sig)) fatal("malformed descriptor " + descriptor);
    std::lock_guard<std::mutex> lock(state_.mutex);
    ClassDef* cls = classDef(cls_);
    cls->methods.push_back(MethodDef{cls, name, descriptor, sig, std::move(fn)});
    state_.memberIds.insert(&cls->methods.back());
    return *this;
}

jclass ClassBuilder::ref() {
    return static_cast<jclass>(state_.newRef(classDef(cls_)->mirror));
}

Host::Host() : state_(std::make_unique<HostState>()) {}
Host::~Host() = default;

JNIEnv* Host::env() {
    return &state_->envOfThisThread()->env;
}
JavaVM* Host::vm() {
    return &state_->vm.vm;
}

ClassBuilder Host::defineClass(const std::string& name) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return ClassBuilder(*state_, state_->defineClassLocked(name));
}

jobject Host::newInstance(const std::string& className) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    ClassDef* cls = state_->defineClassLocked(className);
    return state_->newRefLocked(state_->newObjectLocked(Object::Kind::Instance, cls));
}

jstring Host::newString(const std::string& utf) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    Object* o =
        state_->newObjectLocked(Object::Kind::String, state_->findClassLocked("java/lang/String"));
    o->utf = utf;
    return static_cast<jstring>(state_->newRefLocked(o));
}

jbyteArray Host::newByteArray(const std::vector<jbyte>& bytes) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    Object* o = state_->newObjectLocked(Object::Kind::ByteArray, state_->findClassLocked("[B"));
    o->bytes = bytes;
    return static_cast<jbyteArray>(state_->newRefLocked(o));
}

jint Host::intField(jobject obj, const std::string& name) {
    Object* o = state_->deref(obj);
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto it = o->ints.find(name);
    if (it == o->ints.end()) fatal("no int field " + name + " in " + o->cls->name);
    return it->second;
}

void Host::setIntField(jobject obj, const std::string& name, jint value) {
    Object* o = state_->deref(obj);
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto it = o->ints.find(name);
    if (it == o->ints.end()) fatal("no int field " + name + " in " + o->cls->name);
    it->second = value;
}

std::string Host::utf(jstring str) {
    Object* o = state_->deref(str);
    if (o == nullptr || o->kind != Object::Kind::String) fatal("utf() of something not a string");
    std::lock_guard<std::mutex> lock(state_->mutex);
    return o->utf;
}

std::vector<jbyte> Host::bytes(jbyteArray array) {
    Object* o = state_->deref(array);
    if (o == nullptr || o->kind != Object::Kind::ByteArray)
        fatal("bytes() of something not a byte[]");
    std::lock_guard<std::mutex> lock(state_->mutex);
    return o->bytes;
}

std::optional<Thrown> Host::pending() {
    EnvImpl* e = state_->envOfThisThread();
    if (e->pending == nullptr) return std::nullopt;
    std::lock_guard<std::mutex> lock(state_->mutex);
    return Thrown{e->pending->cls->name, e->pending->message};
}

std::optional<Thrown> Host::takePending() {
    std::optional<Thrown> thrown = pending();
    state_->envOfThisThread()->pending = nullptr;
    return thrown;
}

void Host::throwPending(const std::string& className, std::optional<std::string> message) {
    state_->raise(state_->envOfThisThread(), className, std::move(message));
}

std::vector<std::string> Host::violations() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->violations;
}

void Host::setStrict(bool abortOnViolation) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->strict = abortOnViolation;
}

size_t Host::liveLocalRefs() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->refs.size();
}

size_t Host::utfCharsHeld() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->utfChars.size();
}

size_t Host::monitorsHeld() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->monitorsHeld;
}

size_t Host::criticalsHeld() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->criticalsHeld;
}

size_t Host::monitorWaiters(jobject obj) {
    Object* o = state_->deref(obj);
    std::lock_guard<std::mutex> lock(state_->mutex);
    return static_cast<size_t>(o->monitor.waiters);
}

void Host::inject(Fault fault, int times, const std::string& name, int skip) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->injections.push_back(Injection{fault, times, name, skip});
}

void Host::onEnter(std::function<void(const char* slot)> hook) {
    state_->enterHook = std::move(hook);
}

void Host::clearInjections() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->injections.clear();
}

}  // namespace orvela::jnihost
