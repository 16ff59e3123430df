// A test-only library whose natives exercise the host the way the real libraries do, through
// the shared binding pieces. Its natives belong to the class com.orvela.test.jnihost.Probe.
#include <jni.h>

#include <memory>
#include <vector>

#include "binding/HandleField.h"
#include "binding/HandleRegistry.h"
#include "binding/ScopedLocalRef.h"
#include "binding/ScopedMonitor.h"
#include "binding/ScopedUtfChars.h"
#include "binding/ThrowByName.h"

namespace {

struct SocketRecord {
    jint fd;
};

orvela::HandleRegistry<SocketRecord>& sockets() {
    static orvela::HandleRegistry<SocketRecord> instance;
    return instance;
}

}  // namespace

extern "C" {

// Calls target.report(int, short, long, double, boolean, String).
JNIEXPORT void JNICALL Java_com_orvela_test_jnihost_Probe_callBack(JNIEnv* env, jclass,
                                                                   jobject target, jint i, jshort s,
                                                                   jlong j, jdouble d, jboolean z,
                                                                   jstring str) {
    orvela::ScopedLocalRef<jclass> cls(env, env->GetObjectClass(target));
    if (!cls) return;
    jmethodID report = env->GetMethodID(cls.get(), "report", "(ISJDZLjava/lang/String;)V");
    if (report == nullptr) return;
    env->CallVoidMethod(target, report, i, s, j, d, z, str);
}

JNIEXPORT jint JNICALL Java_com_orvela_test_jnihost_Probe_create0(JNIEnv* env, jclass, jint fd) {
    jint handle = sockets().add(std::make_unique<SocketRecord>(SocketRecord{fd}));
    if (handle == 0) orvela::throwOutOfMemory(env);
    return handle;
}

// new Socket(fd): the constructor is the test's, and calls create0 back.
JNIEXPORT jobject JNICALL Java_com_orvela_test_jnihost_Probe_newSocket(JNIEnv* env, jclass,
                                                                       jint fd) {
    orvela::ScopedLocalRef<jclass> cls(env, env->FindClass("com/orvela/test/jnihost/Socket"));
    if (!cls) return nullptr;
    jmethodID init = env->GetMethodID(cls.get(), "<init>", "(I)V");
    if (init == nullptr) return nullptr;
    return env->NewObject(cls.get(), init, fd);
}

JNIEXPORT jint JNICALL Java_com_orvela_test_jnihost_Probe_fdOf(JNIEnv* env, jclass,
                                                               jobject socket) {
    SocketRecord record{};
    if (orvela::copyRecordOf(env, socket, sockets(), &record) == nullptr) {
        orvela::throwIOExceptionReplacing(env, "Invalid handle");
        return -1;
    }
    return record.fd;
}

JNIEXPORT jstring JNICALL Java_com_orvela_test_jnihost_Probe_echo(JNIEnv* env, jclass,
                                                                  jstring str) {
    orvela::ScopedUtfChars chars(env, str);
    if (!chars) return nullptr;
    return env->NewStringUTF(chars.c_str());
}

// An overloaded native: echo(int) next to echo(String).
JNIEXPORT jint JNICALL Java_com_orvela_test_jnihost_Probe_echo__I(JNIEnv*, jclass, jint value) {
    return value;
}

// Arrays.copyOfRange(src, off, off + len) through a native buffer.
JNIEXPORT jbyteArray JNICALL Java_com_orvela_test_jnihost_Probe_copyOf(JNIEnv* env, jclass,
                                                                       jbyteArray src, jint off,
                                                                       jint len) {
    std::vector<jbyte> buf(len > 0 ? static_cast<size_t>(len) : 0);
    env->GetByteArrayRegion(src, off, len, buf.data());
    if (env->ExceptionCheck()) return nullptr;
    orvela::ScopedLocalRef<jbyteArray> copy(env, env->NewByteArray(len));
    if (!copy) return nullptr;
    env->SetByteArrayRegion(copy.get(), 0, len, buf.data());
    return copy.release();
}

// Calls target.inside() holding lock's monitor.
JNIEXPORT void JNICALL Java_com_orvela_test_jnihost_Probe_underMonitor(JNIEnv* env, jclass,
                                                                       jobject lock,
                                                                       jobject target) {
    orvela::ScopedMonitor monitor(env, lock);
    if (!monitor.entered()) {
        orvela::throwIOException(env, "monitor not entered");
        return;
    }
    orvela::ScopedLocalRef<jclass> cls(env, env->GetObjectClass(target));
    jmethodID inside = env->GetMethodID(cls.get(), "inside", "()V");
    if (inside == nullptr) return;
    env->CallVoidMethod(target, inside);
}

}  // extern "C"
