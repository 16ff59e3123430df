#include "core/cli/ductway/PipeConnect.h"

#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"
#include "core/cli/ductway/OverlappedFailure.h"

namespace orvela::ductway {

bool awaitClient(JNIEnv* env, const SharedPipe& pipe, const Deadline& deadline) {
    for (;;) {
        if (pipe.closed()) {
            throwIOException(env, "invalid handle");
            return false;
        }
        // ConnectNamedPipe resets the kind's event itself as it starts.
        OVERLAPPED ov = pipe.overlappedFor(SharedPipe::Connect);
        if (ConnectNamedPipe(pipe.handle(), &ov)) return true;
        DWORD err = GetLastError();
        // A client opened the instance before the connect: it is attached already, and the
        // system need not signal the event for it.
        if (err == ERROR_PIPE_CONNECTED) return true;
        if (err == ERROR_NO_DATA) {
            // A client opened the instance and closed it again before the connect: nobody is
            // left to serve. The instance is freed and the wait goes on within the limit.
            if (!DisconnectNamedPipe(pipe.handle())) {
                throwIOError(env, GetLastError());
                return false;
            }
            if (deadline.passed()) {
                throwTimeout(env);
                return false;
            }
            continue;
        }
        if (err != ERROR_IO_PENDING) {
            throwIllegalArgumentWithSystemText(env, err);
            return false;
        }
        OverlappedOutcome outcome = pipe.await(&ov, deadline);
        if (outcome.kind == OverlappedOutcome::Done) return true;
        throwNotDone(env, outcome);
        return false;
    }
}

}  // namespace orvela::ductway
