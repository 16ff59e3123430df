#include "core/cli/DuctwaySystemError.h"

#include <memory>

#include "binding/LastErrorMsg.h"
#include "binding/ThrowByName.h"

namespace orvela {

namespace {

struct LocalFreeDeleter {
    void operator()(char* text) const { LocalFree(text); }
};
using SystemText = std::unique_ptr<char, LocalFreeDeleter>;

}  // namespace

void throwSystemError(JNIEnv* env, const char* className, DWORD err) {
    SystemText text(getLastErrorMsg(err));
    JNU_ThrowByName(env, className, text.get());
}

void throwSystemErrorReplacing(JNIEnv* env, const char* className, DWORD err) {
    SystemText text(getLastErrorMsg(err));
    throwReplacingPending(env, className, text.get());
}

}  // namespace orvela
