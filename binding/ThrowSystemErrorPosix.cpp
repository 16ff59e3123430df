#include "binding/ThrowSystemError.h"

#include "binding/LastErrorMsg.h"

namespace orvela {

void throwSystemError(JNIEnv* env, const char* className, SystemError err) {
    JNU_ThrowByName(env, className, getLastErrorMsg(err));
}

void throwSystemErrorReplacing(JNIEnv* env, const char* className, SystemError err) {
    throwReplacingPending(env, className, getLastErrorMsg(err));
}

}  // namespace orvela
