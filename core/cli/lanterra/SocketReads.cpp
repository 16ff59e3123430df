#include "core/cli/lanterra/SocketReads.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <memory>
#include <new>

#include "binding/Deadline.h"
#include "binding/DebugLine.h"
#include "binding/ScopedCriticalBytes.h"
#include "binding/ScopedLocalRef.h"
#include "binding/SocketWait.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"
#include "core/cli/lanterra/WaitOutcome.h"
#include "core/cli/lanterra/WouldBlock.h"

namespace orvela::lanterra {
namespace {

// The most bytes one read0 takes, however many are queued.
constexpr size_t kMaxReadBytes = 256 * 1024;

// A read first takes up to this many bytes through a buffer on the stack: one recv and one
// region copy for a message of this size. Only when the buffer fills does it take what else is
// queued straight into the Java array.
constexpr size_t kReadStaging = 8 * 1024;

enum class Took {
    Bytes,        // the value holds them (read0) or their count (read1)
    Nothing,      // nothing queued now
    EndOfStream,  // the peer finished, or another thread closed this end
    Thrown,       // an exception is pending
};

template <typename Value>
struct Taken {
    Took what;
    Value value;
};

// A new array of `count` staged bytes. When the VM can't make it, the bytes stay with the
// connection for the next read0 and OutOfMemoryError is pending.
Taken<jbyteArray> arrayOfStaged(JNIEnv* env, Connection& conn, const jbyte* staged, size_t count) {
    jbyteArray bytes = env->NewByteArray(static_cast<jsize>(count));
    if (bytes == nullptr) {
        conn.hold(staged, count);
        return {Took::Thrown, nullptr};
    }
    env->SetByteArrayRegion(bytes, 0, static_cast<jsize>(count), staged);
    return {Took::Bytes, bytes};
}

// The first `count` bytes of `bytes` as an array of their own; when the VM can't make it they
// stay with the connection, as above.
Taken<jbyteArray> shortened(JNIEnv* env, Connection& conn, jbyteArray bytes, size_t count) {
    std::unique_ptr<jbyte[]> copy(new (std::nothrow) jbyte[count]);
    if (!copy) {
        throwOutOfMemory(env);
        return {Took::Thrown, nullptr};
    }
    env->GetByteArrayRegion(bytes, 0, static_cast<jsize>(count), copy.get());
    return arrayOfStaged(env, conn, copy.get(), count);
}

// Takes what is queued on the connection for read0: bytes a failed read0 left with the
// connection first, then one recv, which waits for bytes when `block` is set; a full first recv
// is followed by the rest of what is queued (up to kMaxReadBytes), received straight into the
// array.
Taken<jbyteArray> takeQueued(JNIEnv* env, Connection& conn, bool block) {
    if (conn.holding()) {
        if (jbyteArray held = conn.takeHeld(env)) return {Took::Bytes, held};
        if (env->ExceptionCheck()) return {Took::Thrown, nullptr};
    }
    const int sock = conn.socket().fd();
    jbyte staging[kReadStaging];
    ssize_t nRead = ::recv(sock, staging, sizeof staging, block ? 0 : MSG_DONTWAIT);
    if (nRead < 0) {
        int err = errno;
        if (wouldBlock(err)) return {Took::Nothing, nullptr};
        throwIOError(env, err);
        return {Took::Thrown, nullptr};
    }
    if (nRead == 0) return {Took::EndOfStream, nullptr};
    size_t staged = static_cast<size_t>(nRead);
    size_t more = 0;
    if (staged == sizeof staging) {
        int nAvail = 0;
        int rc = ::ioctl(sock, FIONREAD, &nAvail);
        debugLine(2, "ioctl rc=%i\n", rc);
        debugLine(1, "available: %i\n", nAvail);
        if (rc == 0 && nAvail > 0)
            more = std::min(static_cast<size_t>(nAvail), kMaxReadBytes - staged);
    }
    if (more == 0) {
        debugLine(1, "read %i bytes\n", static_cast<int>(staged));
        return arrayOfStaged(env, conn, staging, staged);
    }
    ScopedLocalRef<jbyteArray> bytes(env, env->NewByteArray(static_cast<jsize>(staged + more)));
    if (!bytes) {
        conn.hold(staging, staged);
        return {Took::Thrown, nullptr};
    }
    env->SetByteArrayRegion(bytes.get(), 0, static_cast<jsize>(staged), staging);
    ssize_t nMore = -1;
    {
        ScopedCriticalBytes into(env, bytes.get());
        // Non-blocking, so the elements are held only for the copy.
        if (into) nMore = ::recv(sock, into.get() + staged, more, MSG_DONTWAIT);
    }
    // What is not taken now (the VM gave no elements, another reader came first, or the
    // connection failed, which the next call reports) stays queued.
    if (nMore < 0) {
        env->ExceptionClear();
        nMore = 0;
    }
    size_t total = staged + static_cast<size_t>(nMore);
    debugLine(1, "read %i bytes\n", static_cast<int>(total));
    if (total == staged + more) return {Took::Bytes, bytes.release()};
    return shortened(env, conn, bytes.get(), total);
}

// A non-blocking recv of up to `len` bytes straight into the array's elements from `off`, which
// are held only for it; *nRead and *err as recv leaves them. False, with nothing received, when
// the VM could not lend the elements.
bool receiveIntoElements(JNIEnv* env, int sock, jbyteArray array, jint off, size_t len,
                         ssize_t* nRead, int* err) {
    ScopedCriticalBytes elements(env, array);
    if (!elements) {
        env->ExceptionClear();  // the caller's buffer on the stack serves instead
        return false;
    }
    *nRead = ::recv(sock, elements.get() + off, len, MSG_DONTWAIT);
    *err = errno;
    return true;
}

// One read into bytes [off, off + len) of the array for read1: a recv into a buffer on the
// stack, blocking when `block` is set, and when that fills the buffer, a non-blocking recv
// straight into the array for what else is queued. Without blocking, a range larger than the
// buffer is received straight into the array.
Taken<jint> takeQueuedInto(JNIEnv* env, const SharedSocket& socket, jbyteArray array, jint off,
                           jint len, bool block) {
    const int sock = socket.fd();
    size_t want = static_cast<size_t>(len);
    ssize_t nRead = -1;
    int err = 0;
    bool received = want > kReadStaging && !block &&
                    receiveIntoElements(env, sock, array, off, want, &nRead, &err);
    if (!received) {
        jbyte staging[kReadStaging];
        nRead = ::recv(sock, staging, std::min(want, sizeof staging), block ? 0 : MSG_DONTWAIT);
        err = errno;
        if (nRead > 0) {
            env->SetByteArrayRegion(array, off, static_cast<jsize>(nRead), staging);
            // What is not taken now (nothing more is queued, the connection ended or failed: the
            // next read reports it) stays for the next read.
            ssize_t nMore = -1;
            int moreErr = 0;
            if (static_cast<size_t>(nRead) == sizeof staging && want > sizeof staging &&
                receiveIntoElements(env, sock, array, off + static_cast<jint>(nRead),
                                    want - sizeof staging, &nMore, &moreErr) &&
                nMore > 0) {
                nRead += nMore;
            }
        }
    }
    if (nRead > 0) {
        debugLine(1, "read %i bytes\n", static_cast<int>(nRead));
        return {Took::Bytes, static_cast<jint>(nRead)};
    }
    if (nRead == 0) return {Took::EndOfStream, 0};
    if (wouldBlock(err)) return {Took::Nothing, 0};
    throwIOError(env, err);
    return {Took::Thrown, 0};
}

// Waits until the socket has bytes, is closed or `deadline` passes; a signal is waited out.
Waited awaitBytes(JNIEnv* env, const SharedSocket& socket, const Deadline& deadline) {
    for (;;) {
        debugLine(2, "read select...\n");
        SocketWait waited = waitForSocket(socket, POLLIN, deadline);
        debugLine(2, "read select rc=%d\n", waited.polled);
        if (waited.result != SocketWait::Interrupted) return outcomeOf(env, waited);
        debugLine(1, "Interrupted, try again\n");
    }
}

// Calls take(block) until it takes bytes, the stream ends or an exception is pending, waiting
// in between as the header says.
template <typename Take>
auto readWithin(JNIEnv* env, Connection& conn, int timeout, Take take) -> decltype(take(true)) {
    const bool block = timeout <= 0;
    const Deadline deadline = block ? Deadline::none() : Deadline::inMillis(timeout);
    for (;;) {
        auto taken = take(block);
        if (taken.what != Took::Nothing) return taken;
        if (block) {
            debugLine(1, "Interrupted, try again\n");
            continue;
        }
        switch (awaitBytes(env, conn.socket(), deadline)) {
            case Waited::Ready:
                continue;
            case Waited::Closed:
                return {Took::EndOfStream, {}};
            case Waited::Thrown:
                return {Took::Thrown, {}};
        }
    }
}

}  // namespace

jbyteArray readBytes(JNIEnv* env, Connection& conn, int timeout) {
    return readWithin(env, conn, timeout, [&](bool block) { return takeQueued(env, conn, block); })
        .value;
}

jint readInto(JNIEnv* env, Connection& conn, int timeout, jbyteArray array, jint off, jint len) {
    if (conn.holding()) {
        size_t held = conn.takeHeldInto(env, array, off, len);
        if (held > 0) return static_cast<jint>(held);
    }
    Taken<jint> taken = readWithin(env, conn, timeout, [&](bool block) {
        return takeQueuedInto(env, conn.socket(), array, off, len, block);
    });
    return taken.what == Took::EndOfStream ? -1 : taken.value;
}

}  // namespace orvela::lanterra
