#include "core/cli/lanterra/SocketWrites.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <memory>
#include <new>

#include "binding/ScopedCriticalBytes.h"
#include "binding/ThrowByName.h"
#include "binding/WriteFully.h"
#include "core/cli/lanterra/WouldBlock.h"

namespace orvela::lanterra {
namespace {

// Writes up to this many bytes are copied to a buffer on the stack and sent from there; larger
// ones are sent straight from the array's elements while the socket has room, and a piece of up
// to kWritePiece bytes at a time through a buffer on the heap while it waits for room (small
// enough for malloc to reuse memory rather than map fresh pages for every write).
constexpr size_t kSmallTransfer = 4 * 1024;
constexpr size_t kWritePiece = 64 * 1024;

// Sends all `length` bytes, blocking as long as it takes; a close by another thread shuts the
// socket down, which ends a blocked send at once.
Sent sendBlocking(const SharedSocket& socket, const jbyte* bytes, size_t length, int* err) {
    // MSG_NOSIGNAL: a peer that went away is an IOException, not a SIGPIPE.
    if (sendFully(socket.fd(), bytes, length, MSG_NOSIGNAL) == length) return Sent::All;
    *err = errno;
    return socket.closed() ? Sent::Closed : Sent::SystemError;
}

// One non-blocking send of bytes [off, off + len) of the array straight from its elements,
// held only for the send. The count sent, or -1 with the error in *err; EAGAIN also when the VM
// could not lend the elements.
ssize_t sendFromElements(JNIEnv* env, const SharedSocket& socket, jbyteArray array, jint off,
                         jint len, int* err) {
    ScopedCriticalBytes elements(env, array);
    if (!elements) {
        env->ExceptionClear();  // the copy path serves instead
        *err = EAGAIN;
        return -1;
    }
    ssize_t nWritten = ::send(socket.fd(), elements.get() + off, static_cast<size_t>(len),
                              MSG_DONTWAIT | MSG_NOSIGNAL);
    *err = errno;
    return nWritten;
}

}  // namespace

// Small writes are copied once and sent. Larger ones go straight from the array's elements as
// far as the socket takes them at once; when it is full, the next piece is copied out and sent
// with a blocking send, so the elements are never held while the send waits for room (that
// would keep the collector, and so the reading thread, waiting).
Sent sendAll(JNIEnv* env, const SharedSocket& socket, jbyteArray array, jint off, jint len,
             int* err) {
    if (static_cast<size_t>(len) <= kSmallTransfer) {
        jbyte staging[kSmallTransfer];
        env->GetByteArrayRegion(array, off, len, staging);
        return sendBlocking(socket, staging, static_cast<size_t>(len), err);
    }
    std::unique_ptr<jbyte[]> piece;
    for (jint done = 0; done < len;) {
        ssize_t nWritten = sendFromElements(env, socket, array, off + done, len - done, err);
        if (nWritten > 0) {
            done += static_cast<jint>(nWritten);
            continue;
        }
        if (socket.closed()) return Sent::Closed;
        if (nWritten < 0 && !wouldBlock(*err)) return Sent::SystemError;
        if (nWritten < 0 && *err == EINTR) continue;
        // No room: wait in a blocking send of a copied piece, then go on from the elements.
        if (!piece) piece.reset(new (std::nothrow) jbyte[kWritePiece]);
        if (!piece) {
            throwOutOfMemory(env);
            return Sent::Thrown;
        }
        jint count = static_cast<jint>(std::min(static_cast<size_t>(len - done), kWritePiece));
        env->GetByteArrayRegion(array, off + done, count, piece.get());
        Sent sent = sendBlocking(socket, piece.get(), static_cast<size_t>(count), err);
        if (sent != Sent::All) return sent;
        done += count;
    }
    return Sent::All;
}

}  // namespace orvela::lanterra
