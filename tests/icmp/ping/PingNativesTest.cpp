// The natives of the ping service and the route trace under the JNI test host, which flags any JNI
// call made with an exception pending and counts the local references left behind. Needs root.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/jnihost/JniHost.h"

namespace {

using orvela::jnihost::Args;
using orvela::jnihost::Fault;
using orvela::jnihost::Host;
using orvela::jnihost::Library;

constexpr char kObserver[] = "com/orvela/test/icmp/Observer";
constexpr jint kLoopback = 0x7F000001;

class PingNativesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "raw ICMP sockets need root";
        init = lib.native<jint(JNICALL*)(JNIEnv*, jclass)>("com/orvela/core/icmp/JNIPinger",
                                                           "nativeICMPInit", "()I");
        send = lib.native<jint(JNICALL*)(JNIEnv*, jclass, jint, jint, jshort, jshort)>(
            "com/orvela/core/icmp/JNIPinger", "nativeSendPing", "(IISS)I");
        shutdown = lib.native<void(JNICALL*)(JNIEnv*, jclass, jint)>(
            "com/orvela/core/icmp/JNIPinger", "nativeICMPShutdown", "(I)V");
        receive = lib.native<void(JNICALL*)(JNIEnv*, jclass, jint, jobject)>(
            "com/orvela/core/icmp/JNIPingReceiver", "nativeReceivePings",
            "(ILcom/orvela/core/icmp/PingObserver;)V");
        socket = init(host.env(), nullptr);
        ASSERT_GE(socket, 0);
    }
    void TearDown() override {
        if (socket >= 0) shutdown(host.env(), nullptr, socket);
    }

    Host host;
    Library lib{host, ICMPPROBE_LIBRARY};
    jint (*init)(JNIEnv*, jclass) = nullptr;
    jint (*send)(JNIEnv*, jclass, jint, jint, jshort, jshort) = nullptr;
    void (*shutdown)(JNIEnv*, jclass, jint) = nullptr;
    void (*receive)(JNIEnv*, jclass, jint, jobject) = nullptr;
    jint socket = -1;
};

// An observer without removePingRequest, or whose look-up fails, gets the NoSuchMethodError and
// no call: the loop doesn't run.
TEST_F(PingNativesTest, AMissingOrFailedMethodLookupEndsTheLoopBeforeAnyCall) {
    int calls = 0;
    host.defineClass("t/Other").method("somethingElse", "()V",
                                       [](JNIEnv*, jobject, const Args&) {});
    host.defineClass(kObserver).method("removePingRequest", "(ISI)V",
                                       [&](JNIEnv*, jobject, const Args&) { ++calls; });
    ASSERT_EQ(send(host.env(), nullptr, socket, kLoopback, 8, 64), 0);
    for (const bool injected : {false, true}) {
        SCOPED_TRACE(injected ? "failed look-up" : "no such method");
        jobject observer = host.newInstance(injected ? kObserver : "t/Other");
        if (injected) host.inject(Fault::GetMethodID, 1, "removePingRequest");
        size_t refsBefore = host.liveLocalRefs();

        receive(host.env(), nullptr, socket, observer);  // returns without waiting

        auto thrown = host.takePending();
        ASSERT_TRUE(thrown);
        EXPECT_EQ(thrown->className, "java/lang/NoSuchMethodError");
        EXPECT_EQ(calls, 0);
        EXPECT_TRUE(host.violations().empty()) << host.violations().front();
        EXPECT_EQ(host.liveLocalRefs(), refsBefore);
    }
}

// On an ICMPv6 socket the loop reports to removePingRequest6, with a new array per reply that it
// lets go of after the call; without that method, or without the memory for an array, the error
// reaches the caller.
TEST_F(PingNativesTest, Icmp6RepliesGoToRemovePingRequest6EachWithItsOwnAddressArray) {
    auto init6 = lib.native<jint(JNICALL*)(JNIEnv*, jclass)>("com/orvela/core/icmp/JNIPinger",
                                                             "nativeICMPInit6", "()I");
    auto send6 = lib.native<jint(JNICALL*)(JNIEnv*, jclass, jint, jbyteArray, jshort, jshort)>(
        "com/orvela/core/icmp/JNIPinger", "nativeSendPing6", "(I[BSS)I");
    const jint socket6 = init6(host.env(), nullptr);
    ASSERT_GE(socket6, 0);
    const std::vector<jbyte> loopback6 = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    std::vector<jshort> ids;
    host.defineClass("t/Observer6")
        .method("removePingRequest6", "([BSI)V", [&](JNIEnv*, jobject, const Args& a) {
            EXPECT_EQ(host.bytes(static_cast<jbyteArray>(a.l(0))), loopback6);
            EXPECT_GE(a.i(2), 0);
            ids.push_back(a.s(1));
            if (ids.size() == 50) host.throwPending("java/lang/IllegalStateException", "stop");
        });
    host.defineClass(kObserver).method("removePingRequest", "(ISI)V",
                                       [](JNIEnv*, jobject, const Args&) {});
    jobject observer = host.newInstance("t/Observer6");
    jobject ipv4Only = host.newInstance(kObserver);
    jbyteArray dest = host.newByteArray(loopback6);
    size_t refsBefore = host.liveLocalRefs();

    for (jshort id = 1; id <= 51; ++id)
        ASSERT_EQ(send6(host.env(), nullptr, socket6, dest, id, 0), 0);
    receive(host.env(), nullptr, socket6, observer);
    auto thrown = host.takePending();
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->className, "java/lang/IllegalStateException");
    EXPECT_EQ(ids.size(), 50u);
    EXPECT_EQ(host.liveLocalRefs(), refsBefore);

    host.inject(Fault::NewByteArray);  // for the 51st reply
    receive(host.env(), nullptr, socket6, observer);
    thrown = host.takePending();
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->className, "java/lang/OutOfMemoryError");

    receive(host.env(), nullptr, socket6, ipv4Only);  // returns without waiting
    thrown = host.takePending();
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->className, "java/lang/NoSuchMethodError");
    EXPECT_EQ(ids.size(), 50u);
    EXPECT_EQ(host.liveLocalRefs(), refsBefore);
    EXPECT_TRUE(host.violations().empty()) << host.violations().front();
    shutdown(host.env(), nullptr, socket6);
}

// handleUnreachable is optional: a listener without it gets the same hop reports, and one
// that throws ends the trace before the hop's report, as handleHop does.
TEST_F(PingNativesTest, TraceGivesUnreachableCodesToListenersWithHandleUnreachable) {
    auto getTrace =
        lib.native<void(JNICALL*)(JNIEnv*, jclass, jint, jlong, jint, jlong, jint, jint, jobject)>(
            "com/orvela/core/icmp/ASM", "getTrace", "(IJIJIILcom/orvela/core/icmp/HopListener;)V");
    const jint id = ::getpid() & 0xFFFF;  // the trace's port: other processes trace too
    std::vector<std::string> calls;
    auto hop = [&](JNIEnv*, jobject, const Args& a) {
        calls.push_back("hop " + std::to_string(a.i(1)) + " " + std::to_string(a.i(2)) + " " +
                        std::to_string(a.i(3)) + " " + std::to_string(a.i(7)));
    };
    auto unreachable = [&](bool fail) {
        return [&, fail](JNIEnv*, jobject, const Args& a) {
            EXPECT_EQ(a.i(0), id);
            calls.push_back("unreachable " + std::to_string(a.i(1)) + " " + std::to_string(a.i(2)) +
                            " " + std::to_string(a.i(3)));
            if (fail) host.throwPending("java/lang/IllegalStateException", "stop");
        };
    };
    host.defineClass("t/Codes")
        .method("handleHop", "(IIIIDIII)V", hop)
        .method("handleUnreachable", "(IIII)V", unreachable(false));
    host.defineClass("t/Old").method("handleHop", "(IIIIDIII)V", hop);
    host.defineClass("t/Throws")
        .method("handleHop", "(IIIIDIII)V", hop)
        .method("handleUnreachable", "(IIII)V", unreachable(true));
    const std::string portUnreachable = "unreachable 1 " + std::to_string(kLoopback) + " 3";
    const std::string lastHop = "hop 1 " + std::to_string(kLoopback) + " 0 1";
    struct Case {
        const char* cls;
        std::vector<std::string> calls;
        const char* thrown;
    };
    for (const Case& c :
         {Case{"t/Codes", {portUnreachable, lastHop}, nullptr}, Case{"t/Old", {lastHop}, nullptr},
          Case{"t/Throws", {portUnreachable}, "java/lang/IllegalStateException"}}) {
        SCOPED_TRACE(c.cls);
        calls.clear();
        jobject listener = host.newInstance(c.cls);
        size_t refsBefore = host.liveLocalRefs();

        getTrace(host.env(), nullptr, id, kLoopback, 0, 64, -1, 2000, listener);

        EXPECT_EQ(calls, c.calls);
        auto thrown = host.takePending();
        EXPECT_EQ(thrown.has_value(), c.thrown != nullptr);
        if (thrown && c.thrown) {
            EXPECT_EQ(thrown->className, c.thrown);
        }
        EXPECT_TRUE(host.violations().empty()) << host.violations().front();
        EXPECT_EQ(host.liveLocalRefs(), refsBefore);
    }
}

}  // namespace
