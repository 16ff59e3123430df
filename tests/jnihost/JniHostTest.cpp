// The host's own behaviour, through its JNIEnv, without a library.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/jnihost/JniHost.h"

namespace orvela::jnihost {
namespace {

class JniHostTest : public ::testing::Test {
  protected:
    Host host;
    JNIEnv* env = host.env();
};

TEST_F(JniHostTest, UnknownClassesAndMembersLeaveTheVmsErrorPending) {
    EXPECT_EQ(env->FindClass("com/orvela/Missing"), nullptr);
    auto thrown = host.takePending();
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->className, "java/lang/NoClassDefFoundError");
    EXPECT_EQ(thrown->message, "com/orvela/Missing");

    jclass cls = host.defineClass("a/C").intField("handle").ref();
    EXPECT_NE(env->GetFieldID(cls, "handle", "I"), nullptr);
    EXPECT_EQ(env->GetFieldID(cls, "handle", "J"), nullptr);
    EXPECT_EQ(host.takePending()->className, "java/lang/NoSuchFieldError");
    EXPECT_EQ(env->GetMethodID(cls, "close", "()V"), nullptr);
    thrown = host.takePending();
    EXPECT_EQ(thrown->className, "java/lang/NoSuchMethodError");
    EXPECT_EQ(thrown->message, "close");

    env->ThrowNew(cls, nullptr);
    EXPECT_EQ(host.takePending()->message, std::nullopt);
    EXPECT_TRUE(host.violations().empty());
}

TEST_F(JniHostTest, CallsWithAnExceptionPendingAreViolationsExceptTheAllowedOnes) {
    jobject obj = host.newInstance("a/C");
    jstring str = host.newString("x");
    const char* chars = env->GetStringUTFChars(str, nullptr);
    ASSERT_EQ(env->MonitorEnter(obj), JNI_OK);
    host.throwPending("java/io/IOException", "boom");

    EXPECT_TRUE(env->ExceptionCheck());
    env->DeleteLocalRef(env->ExceptionOccurred());
    env->ReleaseStringUTFChars(str, chars);
    EXPECT_EQ(env->MonitorExit(obj), JNI_OK);
    EXPECT_TRUE(host.violations().empty());

    EXPECT_NE(env->FindClass("a/C"), nullptr);
    ASSERT_EQ(host.violations().size(), 1u);
    EXPECT_EQ(host.violations()[0], "FindClass called with java/io/IOException pending");
    env->ExceptionClear();
    EXPECT_FALSE(host.pending());
}

TEST_F(JniHostTest, UnbalancedReleasesAreViolationsAndHoldingsAreCounted) {
    jobject obj = host.newInstance("a/C");
    jstring str = host.newString("x");
    const char* chars = env->GetStringUTFChars(str, nullptr);
    EXPECT_EQ(host.utfCharsHeld(), 1u);
    env->ReleaseStringUTFChars(str, chars);
    EXPECT_EQ(host.utfCharsHeld(), 0u);
    env->ReleaseStringUTFChars(str, chars);

    EXPECT_EQ(env->MonitorEnter(obj), JNI_OK);
    EXPECT_EQ(env->MonitorEnter(obj), JNI_OK);  // recursive
    EXPECT_EQ(host.monitorsHeld(), 2u);
    env->MonitorExit(obj);
    env->MonitorExit(obj);
    EXPECT_EQ(host.monitorsHeld(), 0u);
    EXPECT_EQ(env->MonitorExit(obj), JNI_ERR);

    size_t refs = host.liveLocalRefs();
    env->DeleteLocalRef(obj);
    EXPECT_EQ(host.liveLocalRefs(), refs - 1);
    env->DeleteLocalRef(obj);
    EXPECT_EQ(
        host.violations(),
        (std::vector<std::string>{"ReleaseStringUTFChars of chars not obtained, or released twice",
                                  "MonitorExit of a monitor the thread does not hold",
                                  "DeleteLocalRef of a deleted or invalid reference"}));
}

TEST_F(JniHostTest, ByteArrayRegionsOutsideTheArrayThrowAndCopyNothing) {
    jbyteArray array = host.newByteArray({1, 2, 3, 4});
    EXPECT_EQ(env->GetArrayLength(array), 4);
    jbyte buf[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    const struct {
        jsize start, len;
    } outside[] = {{-1, 1}, {0, 5}, {3, 2}, {4, 1}, {1, -1}, {2, 0x7fffffff}};
    for (const auto& region : outside) {
        env->GetByteArrayRegion(array, region.start, region.len, buf);
        auto thrown = host.takePending();
        ASSERT_TRUE(thrown) << region.start << "+" << region.len;
        EXPECT_EQ(thrown->className, "java/lang/ArrayIndexOutOfBoundsException");
        env->SetByteArrayRegion(array, region.start, region.len, buf);
        EXPECT_TRUE(host.takePending());
    }
    EXPECT_EQ(buf[0], 9);
    EXPECT_EQ(host.bytes(array), (std::vector<jbyte>{1, 2, 3, 4}));
    env->GetByteArrayRegion(array, 3, 4, buf);
    EXPECT_EQ(host.takePending()->message, "Array region 3..7 out of bounds for length 4");

    env->GetByteArrayRegion(array, 4, 0, buf);  // empty region at the end
    env->GetByteArrayRegion(array, 1, 2, buf);
    env->SetByteArrayRegion(array, 2, 2, buf);
    EXPECT_FALSE(host.pending());
    EXPECT_EQ(host.bytes(array), (std::vector<jbyte>{1, 2, 2, 3}));

    EXPECT_EQ(env->NewByteArray(-1), nullptr);
    EXPECT_EQ(host.takePending()->className, "java/lang/NegativeArraySizeException");
}

TEST_F(JniHostTest, CriticalElementsAreTheArrayAndNoOtherCallMayRunWhileHeld) {
    jbyteArray array = host.newByteArray({1, 2, 3});
    jbyteArray empty = host.newByteArray({});
    auto* bytes = static_cast<jbyte*>(env->GetPrimitiveArrayCritical(array, nullptr));
    auto* none = static_cast<jbyte*>(env->GetPrimitiveArrayCritical(empty, nullptr));  // nested
    ASSERT_NE(bytes, nullptr);
    EXPECT_NE(none, nullptr);
    EXPECT_EQ(host.criticalsHeld(), 2u);
    bytes[1] = 7;
    env->ReleasePrimitiveArrayCritical(empty, none, 0);
    EXPECT_TRUE(host.violations().empty());
    env->GetArrayLength(array);
    env->ReleasePrimitiveArrayCritical(array, bytes, JNI_ABORT);
    env->ReleasePrimitiveArrayCritical(array, bytes, 0);
    EXPECT_EQ(host.criticalsHeld(), 0u);
    EXPECT_EQ(host.bytes(array), (std::vector<jbyte>{1, 7, 3}));
    EXPECT_EQ(host.violations(),
              (std::vector<std::string>{
                  "GetArrayLength called inside a critical region",
                  "ReleasePrimitiveArrayCritical of elements not obtained, or released twice"}));

    host.inject(Fault::GetPrimitiveArrayCritical);
    EXPECT_EQ(env->GetPrimitiveArrayCritical(array, nullptr), nullptr);
    EXPECT_EQ(host.takePending()->className, "java/lang/OutOfMemoryError");
    EXPECT_EQ(host.criticalsHeld(), 0u);
}

TEST_F(JniHostTest, ArraysMadeFromDroppedArraysStorageStartZeroedAtTheirOwnLength) {
    // Dropped arrays' storage is reused: a new array must not show what an old one held.
    for (jsize size : {200 * 1024, 100 * 1024, 70 * 1024}) {
        jbyteArray old = env->NewByteArray(size);
        std::vector<jbyte> filler(static_cast<size_t>(size), 0x55);
        env->SetByteArrayRegion(old, 0, size, filler.data());
        env->DeleteLocalRef(old);
    }
    for (jsize size : {64 * 1024, 150 * 1024, 300 * 1024}) {
        jbyteArray fresh = env->NewByteArray(size);
        EXPECT_EQ(env->GetArrayLength(fresh), size);
        EXPECT_EQ(host.bytes(fresh), std::vector<jbyte>(static_cast<size_t>(size), 0)) << size;
        env->DeleteLocalRef(fresh);
    }
    EXPECT_FALSE(host.pending());
    EXPECT_TRUE(host.violations().empty());
}

TEST_F(JniHostTest, InjectionsFailTheChosenCallsOnly) {
    host.defineClass("a/C").intField("handle");
    host.inject(Fault::FindClass, 1, "a/C", 1);  // the second FindClass("a/C") fails
    EXPECT_NE(env->FindClass("a/C"), nullptr);
    EXPECT_NE(env->FindClass("java/lang/String"), nullptr);
    EXPECT_EQ(env->FindClass("a/C"), nullptr);
    EXPECT_EQ(host.takePending()->className, "java/lang/NoClassDefFoundError");
    EXPECT_NE(env->FindClass("a/C"), nullptr);

    host.inject(Fault::NewStringUTF, -1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(env->NewStringUTF("x"), nullptr);
        EXPECT_TRUE(host.takePending());
    }
    host.clearInjections();
    EXPECT_NE(env->NewStringUTF("x"), nullptr);
}

TEST_F(JniHostTest, MisuseAbortsInStrictModeAndMissingSlotsAbortByName) {
    EXPECT_DEATH(
        {
            host.setStrict(true);
            host.throwPending("java/io/IOException", std::nullopt);
            env->GetVersion();
        },
        "GetVersion called with java/io/IOException pending");
    jobject obj = host.newInstance("a/C");
    EXPECT_DEATH(env->GetLongField(obj, nullptr),
                 "JNI slot GetLongField not implemented by the test host");
    env->DeleteLocalRef(obj);
    EXPECT_DEATH(env->GetObjectClass(obj), "deleted or invalid reference");
}

TEST_F(JniHostTest, GetEnvGivesEachThreadItsOwnEnv) {
    JavaVM* vm = host.vm();
    void* mine = nullptr;
    ASSERT_EQ(vm->GetEnv(&mine, JNI_VERSION_1_2), JNI_OK);
    EXPECT_EQ(mine, env);
    void* other = nullptr;
    std::thread([&] { vm->GetEnv(&other, JNI_VERSION_1_8); }).join();
    EXPECT_NE(other, nullptr);
    EXPECT_NE(other, mine);
    EXPECT_EQ(vm->GetEnv(&mine, 0x7fff0000), JNI_EVERSION);
}

}  // namespace
}  // namespace orvela::jnihost
