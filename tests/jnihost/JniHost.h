#pragma once

// A JNI host for unit tests: a JNIEnv and a JavaVM without a Java VM, so a native library can
// be loaded and its natives called from a GoogleTest test (on Windows under Wine, where there
// is no VM, and on Linux where the host can make calls fail the way a VM rarely does).
//
//   orvela::jnihost::Host host;                       // one per test; owns every object
//   host.defineClass("com/orvela/core/cli/UnixDomSocket")
//       .intField("handle")
//       .constructor("(I)V", [&](JNIEnv* env, jobject self, const Args& a) { ... a.i(0) ... })
//       .method("removePingRequest", "(ISI)V", [&](JNIEnv*, jobject, const Args& a) { ... });
//   orvela::jnihost::Library lib(host, "path/to/libcli.so");   // dlopen + JNI_OnLoad
//   auto create0 = lib.native<jint(JNICALL*)(JNIEnv*, jobject, jint)>(
//       "com/orvela/core/cli/UnixDomSocket", "create0", "(I)I");
//   jobject sock = host.newInstance("com/orvela/core/cli/UnixDomSocket");
//   jint h = create0(host.env(), sock, 3);
//   auto thrown = host.takePending();                // optional<Thrown>{className, message}
//   EXPECT_TRUE(host.violations().empty());
//
// What the host provides: classes defined by the test (int fields; methods and constructors
// "<init>" bound to C++ callables that get the decoded arguments and may throw, by leaving an
// exception pending, or call back into the library), instances with a real recursive monitor,
// strings (modified UTF-8 bytes), byte arrays and throwables. The exception classes the
// libraries throw are predefined. Only the JNIEnv slots the libraries use are implemented
// (see EnvFunctions.cpp); any other slot, and any JavaVM slot but GetEnv and the Attach calls,
// prints "JNI slot <name> not implemented by the test host" and aborts.
//
// Each thread has its own JNIEnv (host.env() on that thread) and its own pending exception.
// All references the host hands out are local references that stay valid until deleted;
// using a deleted reference aborts. Weak global references (NewWeakGlobalRef, compared with
// IsSameObject) are never freed and read as cleared once their host is gone.
//
// Strictness: a call made with an exception pending (other than the calls JNI allows then)
// is a violation, as are a release of UTF chars not obtained, a MonitorExit by a thread that
// does not hold the monitor and similar misuse; violations() lists them (setStrict(true) aborts
// at the first one). A JNI call made between GetPrimitiveArrayCritical and its release (other
// than nested critical calls) is a violation too. liveLocalRefs(), utfCharsHeld(),
// monitorsHeld() and criticalsHeld() let a test check that a native call released what it took.
//
// Failure injection: inject(Fault, times, name, skip) makes the next `times` calls of that kind
// (-1: all) fail the way a VM fails them, after letting `skip` matching calls pass. `name`
// restricts it to a class (FindClass, NewObject, MonitorEnter: class of the object), a field
// or method name (GetFieldID, GetMethodID) or a string's content (NewStringUTF,
// GetStringUTFChars); empty matches every call.

#include <jni.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvela::jnihost {

// The arguments of a method call, decoded by the method's descriptor.
class Args {
  public:
    explicit Args(std::vector<jvalue> values) : values_(std::move(values)) {}
    size_t size() const { return values_.size(); }
    jint i(size_t n) const { return values_.at(n).i; }
    jshort s(size_t n) const { return values_.at(n).s; }
    jlong j(size_t n) const { return values_.at(n).j; }
    jdouble d(size_t n) const { return values_.at(n).d; }
    jfloat f(size_t n) const { return values_.at(n).f; }
    jboolean z(size_t n) const { return values_.at(n).z; }
    jbyte b(size_t n) const { return values_.at(n).b; }
    jchar c(size_t n) const { return values_.at(n).c; }
    jobject l(size_t n) const { return values_.at(n).l; }

  private:
    std::vector<jvalue> values_;
};

// The body of a method or constructor. `self` is the receiver (the new object for "<init>").
using MethodFn = std::function<void(JNIEnv* env, jobject self, const Args& args)>;

// The calls whose failure a test can inject, and how each fails:
enum class Fault {
    FindClass,                  // null, NoClassDefFoundError pending
    GetFieldID,                 // null, NoSuchFieldError pending
    GetMethodID,                // null, NoSuchMethodError pending
    MonitorEnter,               // JNI_ERR, nothing pending
    NewByteArray,               // null, OutOfMemoryError pending
    NewObject,                  // null, OutOfMemoryError pending
    NewStringUTF,               // null, OutOfMemoryError pending
    GetStringUTFChars,          // null, OutOfMemoryError pending
    GetPrimitiveArrayCritical,  // null, OutOfMemoryError pending
};

// A thrown exception: its class (slash name) and message (none when thrown without one).
struct Thrown {
    std::string className;
    std::optional<std::string> message;
};

struct HostState;

// Adds members to a class of the host.
class ClassBuilder {
  public:
    ClassBuilder(HostState& state, void* cls) : state_(state), cls_(cls) {}
    ClassBuilder& intField(const std::string& name);
    ClassBuilder& method(const std::string& name, const std::string& descriptor, MethodFn fn);
    ClassBuilder& constructor(const std::string& descriptor, MethodFn fn) {
        return method("<init>", descriptor, std::move(fn));
    }
    // A new local reference to the class.
    jclass ref();

  private:
    HostState& state_;
    void* cls_;
};

class Host {
  public:
    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // The calling thread's JNIEnv.
    JNIEnv* env();
    JavaVM* vm();

    // The class `name` (slash name), created empty when it doesn't exist yet.
    ClassBuilder defineClass(const std::string& name);

    // Objects for tests; each call returns a new local reference.
    jobject newInstance(const std::string& className);  // fields 0, no constructor run
    jstring newString(const std::string& utf);
    jbyteArray newByteArray(const std::vector<jbyte>& bytes);
    jint intField(jobject obj, const std::string& name);
    void setIntField(jobject obj, const std::string& name, jint value);
    std::string utf(jstring str);
    std::vector<jbyte> bytes(jbyteArray array);

    // The calling thread's pending exception.
    std::optional<Thrown> pending();
    std::optional<Thrown> takePending();  // and clears it
    void throwPending(const std::string& className, std::optional<std::string> message);

    // Misuse found so far, one line each.
    std::vector<std::string> violations();
    void setStrict(bool abortOnViolation);

    size_t liveLocalRefs();
    size_t utfCharsHeld();
    size_t monitorsHeld();
    size_t criticalsHeld();
    // Threads blocked in MonitorEnter on obj.
    size_t monitorWaiters(jobject obj);

    void inject(Fault fault, int times = 1, const std::string& name = {}, int skip = 0);
    void clearInjections();
    // Runs hook(slot) at the start of every JNI call, on the calling thread, before the call
    // does anything: a test stalls a native there to close its object under it. Set and clear
    // it while no other thread calls into the host.
    void onEnter(std::function<void(const char* slot)> hook);

    HostState& state() { return *state_; }

  private:
    std::unique_ptr<HostState> state_;
};

// Exported names of natives, as the platform's VM looks them up.
enum class Platform { Posix, Win32, Win64 };
#if defined(_WIN32) && !defined(_WIN64)
inline constexpr Platform kHostPlatform = Platform::Win32;
#elif defined(_WIN32)
inline constexpr Platform kHostPlatform = Platform::Win64;
#else
inline constexpr Platform kHostPlatform = Platform::Posix;
#endif

// A class, method or argument-descriptor name escaped for a native's name ("_1", "_2", "_3",
// "_0xxxx"; '/' becomes '_').
std::string mangleForNative(const std::string& name);
// Bytes of the arguments of a native with `descriptor` as stdcall counts them: 8 for the env
// and the object or class, 8 per long or double, 4 per other argument.
int stdcallArgBytes(const std::string& descriptor);
// The names the VM tries, in its order: "Java_<class>_<method>" (with "__<args>" when
// `overloaded`); on Win32 the stdcall form "_Java_..@<bytes>" first.
std::vector<std::string> nativeSymbolNames(Platform platform, const std::string& className,
                                           const std::string& method, const std::string& descriptor,
                                           bool overloaded);

// A shared library loaded as the VM loads it: JNI_OnLoad is called when exported.
// Construction throws std::runtime_error when the library can't be loaded.
class Library {
  public:
    Library(Host& host, const std::string& path);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // What JNI_OnLoad returned.
    std::optional<jint> onLoadVersion() const { return onLoadVersion_; }

    // The exported symbol `name`, or null.
    void* symbol(const std::string& name) const;
    // The native of className.method (descriptor like "(Ljava/lang/String;I)I"); throws
    // std::runtime_error naming the symbols tried when the library exports none of them.
    void* findNative(const std::string& className, const std::string& method,
                     const std::string& descriptor, bool overloaded = false) const;
    template <typename Fn>
    Fn native(const std::string& className, const std::string& method,
              const std::string& descriptor, bool overloaded = false) const {
        return reinterpret_cast<Fn>(findNative(className, method, descriptor, overloaded));
    }

  private:
    std::string path_;
    void* handle_ = nullptr;
    std::optional<jint> onLoadVersion_;
};

}  // namespace orvela::jnihost
