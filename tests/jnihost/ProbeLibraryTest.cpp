// A library loaded into the host, calling it as the VM would, through the binding pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "tests/jnihost/JniHost.h"

namespace orvela::jnihost {
namespace {

const char* const kProbe = "com/orvela/test/jnihost/Probe";
const char* const kSocket = "com/orvela/test/jnihost/Socket";

class ProbeLibraryTest : public ::testing::Test {
  protected:
    ProbeLibraryTest() {
        lib = std::make_unique<Library>(host, JNIHOST_PROBE_LIBRARY);
        probe = host.defineClass(kProbe).ref();
        newSocket = lib->native<NewSocketFn>(kProbe, "newSocket", "(I)Ljava/lang/Object;");
        fdOf = lib->native<FdOfFn>(kProbe, "fdOf", "(Ljava/lang/Object;)I");
        echo = lib->native<EchoFn>(kProbe, "echo", "(Ljava/lang/String;)Ljava/lang/String;");
        copyOf = lib->native<CopyOfFn>(kProbe, "copyOf", "([BII)[B");
        // new Socket(fd) { handle = create0(fd); } -- the constructor calls back into the library.
        auto create0 =
            lib->native<jint(JNICALL*)(JNIEnv*, jclass, jint)>(kProbe, "create0", "(I)I");
        host.defineClass(kSocket).intField("handle").constructor(
            "(I)V", [this, create0](JNIEnv* e, jobject self, const Args& args) {
                if (args.i(0) < 0) {
                    host.throwPending("java/lang/IllegalArgumentException", "negative fd");
                    return;
                }
                jint handle = create0(e, probe, args.i(0));
                host.setIntField(self, "handle", handle);
            });
    }

    // The fault-free state after a native call: nothing held, nothing misused.
    void expectBalanced(size_t refsBefore, size_t refsReturned) {
        EXPECT_EQ(host.liveLocalRefs(), refsBefore + refsReturned);
        EXPECT_EQ(host.utfCharsHeld(), 0u);
        EXPECT_EQ(host.monitorsHeld(), 0u);
        EXPECT_EQ(host.violations(), std::vector<std::string>{});
    }

    Host host;
    JNIEnv* env = host.env();
    std::unique_ptr<Library> lib;
    jclass probe = nullptr;

    using NewSocketFn = jobject(JNICALL*)(JNIEnv*, jclass, jint);
    using FdOfFn = jint(JNICALL*)(JNIEnv*, jclass, jobject);
    using EchoFn = jstring(JNICALL*)(JNIEnv*, jclass, jstring);
    using CopyOfFn = jbyteArray(JNICALL*)(JNIEnv*, jclass, jbyteArray, jint, jint);
    NewSocketFn newSocket = nullptr;
    FdOfFn fdOf = nullptr;
    EchoFn echo = nullptr;
    CopyOfFn copyOf = nullptr;
};

TEST_F(ProbeLibraryTest, OnLoadRunsAndNativesResolveByTheirNamesAndMissingOnesFailClearly) {
    EXPECT_EQ(lib->onLoadVersion(), JNI_VERSION_1_2);
    auto echoInt = lib->native<jint(JNICALL*)(JNIEnv*, jclass, jint)>(kProbe, "echo", "(I)I", true);
    EXPECT_EQ(echoInt(env, probe, 42), 42);
    try {
        lib->findNative(kProbe, "absent", "()V");
        FAIL() << "absent native found";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("Java_com_orvela_test_jnihost_Probe_absent"),
                  std::string::npos);
    }
}

TEST_F(ProbeLibraryTest, CallbacksGetTheirArgumentsDecoded) {
    struct Report {
        jint i;
        jshort s;
        jlong j;
        jdouble d;
        jboolean z;
        std::string str;
    } got{};
    host.defineClass("a/Target")
        .method("report", "(ISJDZLjava/lang/String;)V", [&](JNIEnv*, jobject, const Args& a) {
            got = {a.i(0), a.s(1), a.j(2), a.d(3), a.z(4), host.utf(static_cast<jstring>(a.l(5)))};
        });
    auto callBack = lib->native<void(JNICALL*)(JNIEnv*, jclass, jobject, jint, jshort, jlong,
                                               jdouble, jboolean, jstring)>(
        kProbe, "callBack", "(Ljava/lang/Object;ISJDZLjava/lang/String;)V");
    jobject target = host.newInstance("a/Target");
    jstring str = host.newString("seq");
    size_t refs = host.liveLocalRefs();
    callBack(env, probe, target, -7, -2, 0x123456789aLL, 2.5, JNI_TRUE, str);
    EXPECT_EQ(got.i, -7);
    EXPECT_EQ(got.s, -2);
    EXPECT_EQ(got.j, 0x123456789aLL);
    EXPECT_EQ(got.d, 2.5);
    EXPECT_EQ(got.z, JNI_TRUE);
    EXPECT_EQ(got.str, "seq");
    EXPECT_FALSE(host.pending());
    expectBalanced(refs, 0);
}

TEST_F(ProbeLibraryTest, NewObjectRunsAConstructorThatCallsBackIntoTheLibrary) {
    size_t refs = host.liveLocalRefs();
    jobject socket = newSocket(env, probe, 17);
    ASSERT_NE(socket, nullptr);
    EXPECT_NE(host.intField(socket, "handle"), 0);
    EXPECT_EQ(fdOf(env, probe, socket), 17);
    expectBalanced(refs, 1);

    EXPECT_EQ(newSocket(env, probe, -1), nullptr);
    auto thrown = host.takePending();
    EXPECT_EQ(thrown->className, "java/lang/IllegalArgumentException");
    EXPECT_EQ(thrown->message, "negative fd");
    expectBalanced(refs, 1);
}

// Each failure a VM can produce, made to happen inside a native: the native must give up with
// the VM's exception (or its own, where it replaces it), and release what it took.
TEST_F(ProbeLibraryTest, InjectedFailuresSurfaceAsExceptionsAndLeakNothing) {
    jobject socket = newSocket(env, probe, 5);
    jstring str = host.newString("hello");
    jbyteArray bytes = host.newByteArray({1, 2, 3});

    const struct {
        Fault fault;
        std::function<bool()> call;  // true when the native returned its failure value
        const char* thrownClass;
        const char* message;
    } cases[] = {
        {Fault::FindClass, [&] { return newSocket(env, probe, 5) == nullptr; },
         "java/lang/NoClassDefFoundError", kSocket},
        {Fault::GetMethodID, [&] { return newSocket(env, probe, 5) == nullptr; },
         "java/lang/NoSuchMethodError", "<init>"},
        {Fault::NewObject, [&] { return newSocket(env, probe, 5) == nullptr; },
         "java/lang/OutOfMemoryError", nullptr},
        {Fault::GetFieldID, [&] { return fdOf(env, probe, socket) == -1; }, "java/io/IOException",
         "Invalid handle"},
        {Fault::MonitorEnter, [&] { return fdOf(env, probe, socket) == -1; }, "java/io/IOException",
         "Invalid handle"},
        {Fault::GetStringUTFChars, [&] { return echo(env, probe, str) == nullptr; },
         "java/lang/OutOfMemoryError", nullptr},
        {Fault::NewStringUTF, [&] { return echo(env, probe, str) == nullptr; },
         "java/lang/OutOfMemoryError", nullptr},
        {Fault::NewByteArray, [&] { return copyOf(env, probe, bytes, 0, 2) == nullptr; },
         "java/lang/OutOfMemoryError", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        size_t refs = host.liveLocalRefs();
        host.inject(c.fault);
        EXPECT_TRUE(c.call());
        auto thrown = host.takePending();
        ASSERT_TRUE(thrown);
        EXPECT_EQ(thrown->className, c.thrownClass);
        EXPECT_EQ(thrown->message,
                  c.message ? std::optional<std::string>(c.message) : std::nullopt);
        expectBalanced(refs, 0);
        host.clearInjections();
    }
    EXPECT_EQ(fdOf(env, probe, socket), 5);
}

TEST_F(ProbeLibraryTest, MonitorExcludesASecondThreadUntilTheFirstLeaves) {
    auto underMonitor = lib->native<void(JNICALL*)(JNIEnv*, jclass, jobject, jobject)>(
        kProbe, "underMonitor", "(Ljava/lang/Object;Ljava/lang/Object;)V");
    jobject lock = host.newInstance("a/Lock");
    std::atomic<int> inside{0};
    std::atomic<int> maxInside{0};
    std::atomic<int> entries{0};
    std::function<void()> whileInside;
    host.defineClass("a/Target").method("inside", "()V", [&](JNIEnv*, jobject, const Args&) {
        int now = ++inside;
        maxInside = std::max(maxInside.load(), now);
        if (++entries == 1) whileInside();
        --inside;
    });
    jobject target = host.newInstance("a/Target");

    std::thread second;
    // The first thread, holding the monitor, starts the second and waits until it is blocked
    // on the monitor before leaving.
    whileInside = [&] {
        second = std::thread([&] { underMonitor(host.env(), probe, lock, target); });
        // Without exclusion the second thread gets in instead of waiting: stop and fail then.
        while (host.monitorWaiters(lock) == 0 && entries.load() == 1) std::this_thread::yield();
        EXPECT_EQ(entries.load(), 1);
    };
    underMonitor(env, probe, lock, target);
    second.join();
    EXPECT_EQ(entries.load(), 2);
    EXPECT_EQ(maxInside.load(), 1);
    EXPECT_EQ(host.monitorsHeld(), 0u);
    EXPECT_EQ(host.violations(), std::vector<std::string>{});
}

}  // namespace
}  // namespace orvela::jnihost
