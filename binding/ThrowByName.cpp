#include "binding/ThrowByName.h"

namespace orvela {

void JNU_ThrowByName(JNIEnv* env, const char* name, const char* msg) {
    jclass cls = env->FindClass(name);
    if (cls != nullptr) {
        env->ThrowNew(cls, msg);
    }
    // Deleting a null reference is a no-op, so the class reference is released on both paths.
    env->DeleteLocalRef(cls);
}

void throwReplacingPending(JNIEnv* env, const char* name, const char* msg) {
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
    }
    JNU_ThrowByName(env, name, msg);
}

}  // namespace orvela
