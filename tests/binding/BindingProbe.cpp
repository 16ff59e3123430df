// A test-only library that exposes the shared binding pieces to a Java test class.
#include <jni.h>

#include <cerrno>
#include <memory>

#include "binding/DebugLevel.h"
#include "binding/HandleField.h"
#include "binding/HandleRegistry.h"
#include "binding/LastErrorMsg.h"
#include "binding/ScopedUtfChars.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"

namespace {

struct ProbeRecord {
    jint value;
};

orvela::HandleRegistry<ProbeRecord>& registry() {
    static orvela::HandleRegistry<ProbeRecord> instance;
    return instance;
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_orvela_test_binding_BindingProbe_throwByName(JNIEnv* env, jclass,
                                                                             jstring jName,
                                                                             jstring jMsg) {
    orvela::ScopedUtfChars name(env, jName, "className");
    if (!name) return;
    if (jMsg == nullptr) {
        orvela::JNU_ThrowByName(env, name.c_str(), nullptr);
        return;
    }
    orvela::ScopedUtfChars msg(env, jMsg);
    if (!msg) return;
    orvela::JNU_ThrowByName(env, name.c_str(), msg.c_str());
}

JNIEXPORT void JNICALL Java_com_orvela_test_binding_BindingProbe_throwTwice(JNIEnv* env, jclass) {
    orvela::JNU_ThrowByName(env, orvela::kIOException, "first");
    orvela::throwReplacingPending(env, orvela::kInterruptedIOException, "second");
}

JNIEXPORT jstring JNICALL Java_com_orvela_test_binding_BindingProbe_lastErrorMsg(JNIEnv* env,
                                                                                 jclass, jint err) {
    errno = err;
    return env->NewStringUTF(orvela::getLastErrorMsg());
}

// The error number is passed on, whatever errno holds by the time of the throw.
JNIEXPORT void JNICALL Java_com_orvela_test_binding_BindingProbe_throwIOError(JNIEnv* env, jclass,
                                                                              jint err) {
    errno = 0;
    orvela::throwIOError(env, err);
}

JNIEXPORT jint JNICALL Java_com_orvela_test_binding_BindingProbe_debugLevel(JNIEnv*, jclass) {
    return orvela::debug;
}

JNIEXPORT jint JNICALL Java_com_orvela_test_binding_BindingProbe_add(JNIEnv* env, jclass,
                                                                     jint value) {
    jint handle = registry().add(std::unique_ptr<ProbeRecord>(new ProbeRecord{value}));
    if (handle == 0) orvela::throwOutOfMemory(env);
    return handle;
}

// Reads the record through the object's "handle" field, as the channel natives do.
JNIEXPORT jint JNICALL Java_com_orvela_test_binding_BindingProbe_valueOf(JNIEnv* env, jobject obj) {
    ProbeRecord copy{};
    if (orvela::copyRecordOf(env, obj, registry(), &copy) == nullptr) {
        orvela::throwIOExceptionReplacing(env, "Invalid handle");
        return 0;
    }
    return copy.value;
}

// The same through the "handle" field of an object of any class.
JNIEXPORT jint JNICALL Java_com_orvela_test_binding_BindingProbe_valueIn(JNIEnv* env, jclass,
                                                                         jobject holder) {
    return Java_com_orvela_test_binding_BindingProbe_valueOf(env, holder);
}

JNIEXPORT jboolean JNICALL Java_com_orvela_test_binding_BindingProbe_remove(JNIEnv*, jclass,
                                                                            jint handle) {
    return registry().remove(handle) != nullptr ? JNI_TRUE : JNI_FALSE;
}

}  // extern "C"
