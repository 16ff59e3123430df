#include "binding/ThrowSystemError.h"

#include "binding/LastErrorMsg.h"
#include "binding/ScopedLocalFree.h"

namespace orvela {

// The system allocates the text; it is released once the exception holds its copy.
void throwSystemError(JNIEnv* env, const char* className, SystemError err) {
    ScopedLocalFree<char> text(getLastErrorMsg(err));
    JNU_ThrowByName(env, className, text.get());
}

void throwSystemErrorReplacing(JNIEnv* env, const char* className, SystemError err) {
    ScopedLocalFree<char> text(getLastErrorMsg(err));
    throwReplacingPending(env, className, text.get());
}

}  // namespace orvela
