// The natives of com.orvela.core.cli.UnixDomSocket: one connection of the local command-line
// channel, made by a client (create0(String)) or handed over by the server's accept0.
#include <jni.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "binding/ArrayRange.h"
#include "binding/DebugLine.h"
#include "binding/HandleField.h"
#include "binding/ScopedCriticalBytes.h"
#include "binding/ScopedFd.h"
#include "binding/ScopedLocalRef.h"
#include "binding/ScopedMonitor.h"
#include "binding/ScopedUtfChars.h"
#include "binding/SharedSocket.h"
#include "binding/ThrowByName.h"
#include "binding/ThrowSystemError.h"
#include "core/cli/lanterra/ClientIdentity.h"
#include "core/cli/lanterra/ClientPath.h"
#include "core/cli/lanterra/Connection.h"
#include "core/cli/lanterra/SocketAddress.h"
#include "core/cli/lanterra/SocketPeers.h"
#include "core/cli/lanterra/SocketWait.h"

namespace orvela {
namespace {

// Binds `sock` to this process's client file, *clientPath, with mode 0700: the proof of who
// connects.
bool bindClientFile(JNIEnv* env, int sock, std::string* clientPath) {
    *clientPath = makeClientPath();
    const char* path = clientPath->c_str();
    debugLine(1, "client path is '%s'\n", path);
    sockaddr_un own = unixAddress(path);
    socklen_t ownLen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + clientPath->size());
    rememberClientPath(*clientPath);
    ::unlink(path);
    if (::bind(sock, reinterpret_cast<sockaddr*>(&own), ownLen) != 0 ||
        ::chmod(path, kReadOnlyPerms) != 0) {
        throwIOError(env, errno);
        return false;
    }
    return true;
}

// Looks up the name of `uid`; an entry too long for the buffer gets a larger one.
bool lookUpUserName(long uid, std::string* name) {
    std::vector<char> strings(128);
    for (;;) {
        passwd pwdInfo;
        passwd* found = nullptr;
        int rc =
            ::getpwuid_r(static_cast<uid_t>(uid), &pwdInfo, strings.data(), strings.size(), &found);
        if (rc == ERANGE && strings.size() < 65536) {
            strings.resize(strings.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr) return false;
        *name = pwdInfo.pw_name;
        return true;
    }
}

// The most bytes one read0 takes, however many are queued.
constexpr size_t kMaxReadBytes = 256 * 1024;

// A read0 first takes up to this many bytes through a buffer on the stack: one recv and one
// region copy for a message of this size. Only when the buffer fills does it ask how much more
// is queued, and take that straight into the Java array.
constexpr size_t kReadStaging = 8 * 1024;

// Writes up to this many bytes are copied to a buffer on the stack and sent from there; larger
// ones are sent straight from the array's elements while the socket has room, and a piece of up
// to kWritePiece bytes at a time through a buffer on the heap while it waits for room (small
// enough for malloc to reuse memory rather than map fresh pages for every write).
constexpr size_t kSmallTransfer = 4 * 1024;
constexpr size_t kWritePiece = 64 * 1024;

bool wouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

enum class Took {
    Bytes,        // `bytes` holds them
    Nothing,      // nothing queued now
    EndOfStream,  // the peer finished, or another thread closed this end
    Failed,       // an exception is pending
};

struct Taken {
    Took what;
    jbyteArray bytes;
};

// A new array of `count` staged bytes. When the VM can't make it, the bytes stay with the
// connection for the next read0 and OutOfMemoryError is pending.
Taken arrayOfStaged(JNIEnv* env, Connection& conn, const jbyte* staged, size_t count) {
    jbyteArray bytes = env->NewByteArray(static_cast<jsize>(count));
    if (bytes == nullptr) {
        conn.hold(staged, count);
        return {Took::Failed, nullptr};
    }
    env->SetByteArrayRegion(bytes, 0, static_cast<jsize>(count), staged);
    return {Took::Bytes, bytes};
}

// The first `count` bytes of `bytes` as an array of their own; when the VM can't make it they
// stay with the connection, as above.
Taken shortened(JNIEnv* env, Connection& conn, jbyteArray bytes, size_t count) {
    std::unique_ptr<jbyte[]> copy(new (std::nothrow) jbyte[count]);
    if (!copy) {
        throwOutOfMemory(env);
        return {Took::Failed, nullptr};
    }
    env->GetByteArrayRegion(bytes, 0, static_cast<jsize>(count), copy.get());
    return arrayOfStaged(env, conn, copy.get(), count);
}

// Takes what is queued on the connection: bytes a failed read0 left with the connection first,
// then one recv, which waits for bytes when `block` is set (a close by another thread ends that
// wait with the end of the stream); a full first recv is followed by the rest of what is queued
// (up to kMaxReadBytes), received straight into the array.
Taken takeQueued(JNIEnv* env, Connection& conn, bool block) {
    if (conn.holding()) {
        if (jbyteArray held = conn.takeHeld(env)) return {Took::Bytes, held};
        if (env->ExceptionCheck()) return {Took::Failed, nullptr};
    }
    const int sock = conn.socket().fd();
    jbyte staging[kReadStaging];
    ssize_t nRead = ::recv(sock, staging, sizeof staging, block ? 0 : MSG_DONTWAIT);
    if (nRead < 0) {
        int err = errno;
        if (wouldBlock(err)) return {Took::Nothing, nullptr};
        throwIOError(env, err);
        return {Took::Failed, nullptr};
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
        return {Took::Failed, nullptr};
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

// A non-blocking recv of up to `len` bytes straight into jBuf's elements from `off`, which are
// held only for it; *nRead and *err as recv leaves them. False, with nothing received, when the
// VM could not lend the elements.
bool receiveIntoElements(JNIEnv* env, int sock, jbyteArray jBuf, jint off, size_t len,
                         ssize_t* nRead, int* err) {
    ScopedCriticalBytes elements(env, jBuf);
    if (!elements) {
        env->ExceptionClear();  // the caller's buffer on the stack serves instead
        return false;
    }
    *nRead = ::recv(sock, elements.get() + off, len, MSG_DONTWAIT);
    *err = errno;
    return true;
}

// One read into bytes [off, off + len) of jBuf (a range inside it, len > 0): a recv into a
// buffer on the stack, blocking when `block` is set, and when that fills the buffer, a
// non-blocking recv straight into the array for what else is queued. Without blocking, a range
// larger than the buffer is received straight into the array. The count, 0 at the end of the
// stream, or -1 with the error in *err.
ssize_t receiveInto(JNIEnv* env, const SharedSocket& socket, jbyteArray jBuf, jint off, jint len,
                    bool block, int* err) {
    const int sock = socket.fd();
    size_t want = static_cast<size_t>(len);
    ssize_t nRead = -1;
    if (want > kReadStaging && !block &&
        receiveIntoElements(env, sock, jBuf, off, want, &nRead, err)) {
        return nRead;
    }
    jbyte staging[kReadStaging];
    nRead = ::recv(sock, staging, std::min(want, sizeof staging), block ? 0 : MSG_DONTWAIT);
    *err = errno;
    if (nRead <= 0) return nRead;
    env->SetByteArrayRegion(jBuf, off, static_cast<jsize>(nRead), staging);
    if (static_cast<size_t>(nRead) < sizeof staging || want == sizeof staging) return nRead;
    // What is not taken now (nothing more is queued, the connection ended or failed: the next
    // read reports it) stays for the next read.
    ssize_t nMore = -1;
    int moreErr = 0;
    receiveIntoElements(env, sock, jBuf, off + static_cast<jint>(nRead), want - sizeof staging,
                        &nMore, &moreErr);
    return nMore > 0 ? nRead + nMore : nRead;
}

enum class Sent { All, Failed, Thrown, Closed };

// Sends all `length` bytes, blocking as long as it takes; a close by another thread shuts the
// socket down, which ends a blocked send at once. Failed leaves the system's error in *err.
Sent sendBlocking(const SharedSocket& socket, const jbyte* bytes, size_t length, int* err) {
    while (length > 0) {
        // MSG_NOSIGNAL: a peer that went away is an IOException, not a SIGPIPE.
        ssize_t nWritten = ::send(socket.fd(), bytes, length, MSG_NOSIGNAL);
        *err = errno;
        if (nWritten > 0) {
            bytes += nWritten;
            length -= static_cast<size_t>(nWritten);
            continue;
        }
        if (socket.closed()) return Sent::Closed;
        if (nWritten < 0 && *err == EINTR) continue;
        return Sent::Failed;
    }
    return Sent::All;
}

// One non-blocking send of bytes [off, off + len) of jBuf straight from the array's elements,
// held only for the send. The count sent, or -1 with the error in *err; EAGAIN also when the VM
// could not lend the elements.
ssize_t sendFromElements(JNIEnv* env, const SharedSocket& socket, jbyteArray jBuf, jint off,
                         jint len, int* err) {
    ScopedCriticalBytes elements(env, jBuf);
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

// Sends bytes [off, off + len) of jBuf. Small writes are copied once and sent. Larger ones go
// straight from the array's elements as far as the socket takes them at once; when it is full,
// the next piece is copied out and sent with a blocking send, so the elements are never held
// while the send waits for room (that would keep the collector, and so the reading thread,
// waiting); a close by another thread ends that wait. Failed: the connection failed, the system's
// error in *err; Thrown: an exception is pending; Closed: another thread closed this end.
Sent sendAll(JNIEnv* env, const SharedSocket& socket, jbyteArray jBuf, jint off, jint len,
             int* err) {
    if (static_cast<size_t>(len) <= kSmallTransfer) {
        jbyte staging[kSmallTransfer];
        env->GetByteArrayRegion(jBuf, off, len, staging);
        return sendBlocking(socket, staging, static_cast<size_t>(len), err);
    }
    std::unique_ptr<jbyte[]> piece;
    for (jint done = 0; done < len;) {
        ssize_t nWritten = sendFromElements(env, socket, jBuf, off + done, len - done, err);
        if (nWritten > 0) {
            done += static_cast<jint>(nWritten);
            continue;
        }
        if (socket.closed()) return Sent::Closed;
        if (nWritten < 0 && !wouldBlock(*err)) return Sent::Failed;
        if (nWritten < 0 && *err == EINTR) continue;
        // No room: wait in a blocking send of a copied piece, then go on from the elements.
        if (!piece) piece.reset(new (std::nothrow) jbyte[kWritePiece]);
        if (!piece) {
            throwOutOfMemory(env);
            return Sent::Thrown;
        }
        jint count = static_cast<jint>(std::min(static_cast<size_t>(len - done), kWritePiece));
        env->GetByteArrayRegion(jBuf, off + done, count, piece.get());
        Sent sent = sendBlocking(socket, piece.get(), static_cast<size_t>(count), err);
        if (sent != Sent::All) return sent;
        done += count;
    }
    return Sent::All;
}

}  // namespace
}  // namespace orvela

using namespace orvela;

extern "C" {

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_UnixDomSocket_create0__I(JNIEnv* env, jobject,
                                                                         jint handle) {
    std::unique_ptr<ServerSocketPeer> handOver = handOverPeers().remove(handle);
    if (!handOver) {
        throwIOException(env, "Invalid handle");
        return 0;
    }
    // Taking the hand-over record takes its connection: closed here unless a record holds it.
    std::shared_ptr<Connection> conn = Connection::adopt(std::move(handOver->sock));
    std::unique_ptr<SocketPeer> record(
        conn ? new (std::nothrow) SocketPeer{std::move(conn), 0, handOver->uid} : nullptr);
    jint socketHandle = socketPeers().add(std::move(record));
    if (socketHandle == 0) throwOutOfMemory(env);
    return socketHandle;
}

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_UnixDomSocket_create0__Ljava_lang_String_2(
    JNIEnv* env, jobject, jstring jPath) {
    ScopedUtfChars path(env, jPath, "path");
    if (!path) return 0;
    ScopedFd sock(streamSocketOrThrow(env));
    if (!sock || !pathGivenOrThrow(env, path.c_str())) return 0;
    std::string clientPath;
    if (!bindClientFile(env, sock.get(), &clientPath)) return 0;
    sockaddr_un server = unixAddress(path.c_str());
    if (::connect(sock.get(), reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        int err = errno;
        ::unlink(clientPath.c_str());
        throwIOError(env, err);
        return 0;
    }
    int adoptErr = 0;
    std::shared_ptr<SharedSocket> connected = SharedSocket::adopt(sock.release(), &adoptErr);
    if (!connected) {
        ::unlink(clientPath.c_str());
        throwIOError(env, adoptErr);
        return 0;
    }
    std::shared_ptr<Connection> conn = Connection::adopt(std::move(connected));
    std::unique_ptr<SocketPeer> record(
        conn ? new (std::nothrow) SocketPeer{std::move(conn), 0, kNoUid} : nullptr);
    jint handle = socketPeers().add(std::move(record));
    if (handle == 0) {
        ::unlink(clientPath.c_str());
        throwOutOfMemory(env);
    }
    return handle;
}

JNIEXPORT jstring JNICALL Java_com_orvela_core_cli_UnixDomSocket_getClientIdentity0(JNIEnv* env,
                                                                                    jobject obj) {
    SocketPeer peer;
    if (socketPeerOrThrow(env, obj, &peer) == nullptr) return nullptr;
    std::string name;
    if (peer.uid == kNoUid || !lookUpUserName(peer.uid, &name)) {
        throwIOException(env, "getpwuid_r() error");
        return nullptr;
    }
    debugLine(2, "getpwuid_r uid: %ld name %s\n", peer.uid, name.c_str());
    return env->NewStringUTF(name.c_str());
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_UnixDomSocket_setSoTimeout0(JNIEnv* env,
                                                                            jobject obj,
                                                                            jint jTimeout) {
    setTimeoutOf(env, obj, socketPeers(), jTimeout);
}

JNIEXPORT jbyteArray JNICALL Java_com_orvela_core_cli_UnixDomSocket_read0(JNIEnv* env,
                                                                          jobject obj) {
    SocketPeer peer;
    if (socketPeerOrThrow(env, obj, &peer) == nullptr) return nullptr;
    debugLine(1, "reading from socket\n");
    Connection& conn = *peer.conn;
    // Without a limit, one blocking recv takes the bytes or waits for them. With one, what is
    // queued is taken with one recv; only an empty socket is waited on, and a wait whose bytes
    // another reader took is followed by another for the rest of the limit.
    const bool unlimited = peer.timeout <= 0;
    WaitLimit limit(peer.timeout);
    for (;;) {
        Taken taken = takeQueued(env, conn, unlimited);
        switch (taken.what) {
            case Took::Bytes:
                return taken.bytes;
            case Took::EndOfStream:
            case Took::Failed:
                return nullptr;
            case Took::Nothing:
                break;
        }
        if (unlimited) {
            debugLine(1, "Interrupted, try again\n");
            continue;
        }
        switch (awaitSocket(env, conn.socket(), POLLIN, limit, WaitPurpose::Read)) {
            case Waited::Ready:
                continue;
            case Waited::Closed:  // closed by another thread: the end of this stream
            case Waited::Failed:
                return nullptr;
        }
    }
}

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_UnixDomSocket_read1(JNIEnv* env, jobject obj,
                                                                    jbyteArray jBuf, jint jOff,
                                                                    jint jLen) {
    SocketPeer peer;
    if (socketPeerOrThrow(env, obj, &peer) == nullptr) return 0;
    debugLine(1, "reading from socket\n");
    if (!rangeInArrayOrThrow(env, jBuf, jOff, jLen, "buffer")) return 0;
    if (jLen == 0) return 0;
    Connection& conn = *peer.conn;
    if (conn.holding()) {
        size_t held = conn.takeHeldInto(env, jBuf, jOff, jLen);
        if (held > 0) return static_cast<jint>(held);
    }
    // As in read0: without a limit, a blocking recv takes the bytes or waits for them. With one,
    // what is queued is taken at once and only an empty socket is waited on, for what is left
    // of the limit.
    const bool block = peer.timeout <= 0;
    WaitLimit limit(peer.timeout);
    for (;;) {
        int err = 0;
        ssize_t nRead = receiveInto(env, conn.socket(), jBuf, jOff, jLen, block, &err);
        if (nRead > 0) {
            debugLine(1, "read %i bytes\n", static_cast<int>(nRead));
            return static_cast<jint>(nRead);
        }
        // The peer finished, or another thread closed this end.
        if (nRead == 0) return -1;
        if (!wouldBlock(err)) {
            throwIOError(env, err);
            return 0;
        }
        if (block) {
            debugLine(1, "Interrupted, try again\n");
            continue;
        }
        switch (awaitSocket(env, conn.socket(), POLLIN, limit, WaitPurpose::Read)) {
            case Waited::Ready:
                continue;
            case Waited::Closed:
                return -1;
            case Waited::Failed:
                return 0;
        }
    }
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_UnixDomSocket_write0(JNIEnv* env, jobject obj,
                                                                     jbyteArray jBuf, jint jOff,
                                                                     jint jLen) {
    SocketPeer peer;
    if (socketPeerOrThrow(env, obj, &peer) == nullptr) return;
    debugLine(1, "writing %i bytes\n", jLen);
    if (!rangeInArrayOrThrow(env, jBuf, jOff, jLen, "buffer")) return;
    int err = 0;
    switch (sendAll(env, peer.conn->socket(), jBuf, jOff, jLen, &err)) {
        case Sent::All:
            break;
        case Sent::Failed:
            throwIOError(env, err);
            return;
        case Sent::Closed:
            throwIOException(env, "Invalid handle");
            return;
        case Sent::Thrown:
            return;
    }
    debugLine(1, "write finished\n");
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_UnixDomSocket_flush0(JNIEnv* env, jobject obj) {
    // Nothing is buffered at this layer; only the handle is checked.
    SocketPeer peer;
    socketPeerOrThrow(env, obj, &peer);
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_UnixDomSocket_close0(JNIEnv* env, jobject obj) {
    closeRecordOf(env, obj, socketPeers());
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_UnixDomSocket_cleanup0(JNIEnv* env, jobject obj) {
    // The file goes whatever the handle: cleanup0 follows close0, which leaves 0 in the field and
    // is no failure; any other value that designates no connection is.
    bool validHandle = false;
    {
        ScopedMonitor monitor(env, obj);
        jfieldID handleField = monitor.entered() ? findHandleField<SocketPeer>(env, obj) : nullptr;
        if (handleField != nullptr) {
            jint handle = env->GetIntField(obj, handleField);
            SocketPeer peer;
            validHandle = handle == 0 || socketPeers().copy(handle, &peer);
        }
    }
    std::string clientPath = clientPathName();
    debugLine(2, "About to unlink %s\n", clientPath.c_str());
    if (!clientPath.empty()) ::unlink(clientPath.c_str());
    if (!validHandle) throwIOExceptionReplacing(env, "Invalid handle");
}

}  // extern "C"
