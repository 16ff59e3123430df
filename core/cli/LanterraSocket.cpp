// The natives of com.orvela.core.cli.UnixDomSocket: one connection of the local command-line
// channel, made by a client (create0(String)) or handed over by the server's accept0.
#include <jni.h>
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

#include "binding/LastErrorMsg.h"
#include "binding/ScopedFd.h"
#include "binding/ScopedLocalRef.h"
#include "binding/ScopedUtfChars.h"
#include "binding/ThrowByName.h"
#include "core/cli/LanterraAddress.h"
#include "core/cli/LanterraClientPath.h"
#include "core/cli/LanterraIdentity.h"
#include "core/cli/LanterraPeers.h"
#include "core/cli/LanterraTrace.h"
#include "core/cli/LanterraWait.h"
#include "core/cli/ScopedCriticalBytes.h"

namespace orvela {
namespace {

// Binds `sock` to this process's client file, *clientPath, with mode 0700: the proof of who
// connects.
bool bindClientFile(JNIEnv* env, int sock, std::string* clientPath) {
    *clientPath = makeClientPath();
    const char* path = clientPath->c_str();
    traceLine(1, "client path is '%s'\n", path);
    sockaddr_un own = unixAddress(path);
    socklen_t ownLen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + clientPath->size());
    rememberClientPath(*clientPath);
    ::unlink(path);
    if (::bind(sock, reinterpret_cast<sockaddr*>(&own), ownLen) != 0 ||
        ::chmod(path, readOnlyPerms) != 0) {
        throwIOException(env, getLastErrorMsg());
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

enum class Queued { Data, EndOfStream, Nothing, Failed };

// How many bytes wait on `sock` after it was reported readable. Readiness with nothing
// queued means end of stream, a pending error, or data another reader took first.
Queued queuedBytes(int sock, int* nAvail) {
    int rc = ::ioctl(sock, FIONREAD, nAvail);
    traceLine(2, "ioctl rc=%i\n", rc);
    if (rc < 0) return Queued::Failed;
    traceLine(1, "available: %i\n", *nAvail);
    if (*nAvail > 0) return Queued::Data;
    char probe;
    ssize_t peeked = ::recv(sock, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked == 0) return Queued::EndOfStream;
    if (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        return Queued::Failed;
    }
    return Queued::Nothing;
}

// The most bytes one read0 takes, however many are queued.
constexpr size_t maxReadBytes = 256 * 1024;

// Up to this many bytes go through a buffer on the stack and one region copy, which costs less
// than the two calls into the VM that hold and release the array's elements; larger transfers
// use the array's elements directly and save a copy of every byte.
constexpr size_t smallTransfer = 2048;

struct Received {
    enum class Status { Done, Again };
    Status status;
    jbyteArray bytes;  // Done: the bytes, or null with an exception pending
};

// True when `elements` holds the array's elements; otherwise false with an exception pending.
bool heldOrThrow(JNIEnv* env, const ScopedCriticalBytes& elements) {
    if (elements) return true;
    if (!env->ExceptionCheck()) throwOutOfMemory(env);
    return false;
}

// A new array of the first `count` bytes of `bytes`; null with an exception pending.
jbyteArray exactCopy(JNIEnv* env, jbyteArray bytes, jsize count) {
    ScopedLocalRef<jbyteArray> exact(env, env->NewByteArray(count));
    if (!exact) return nullptr;
    ScopedCriticalBytes from(env, bytes);
    if (!heldOrThrow(env, from)) return nullptr;
    ScopedCriticalBytes to(env, exact.get());
    if (!heldOrThrow(env, to)) return nullptr;
    std::memcpy(to.get(), from.get(), static_cast<size_t>(count));
    return exact.release();
}

// Receives up to `wanted` queued bytes into the start of `bytes` without blocking: the count, or
// -1 with *recvErrno set when recv fails, or -2 with an exception pending when the VM can't give
// the array's elements.
ssize_t receiveInto(JNIEnv* env, int sock, jbyteArray bytes, size_t wanted, int* recvErrno) {
    if (wanted <= smallTransfer) {
        jbyte staging[smallTransfer];
        ssize_t nRead = ::recv(sock, staging, wanted, MSG_DONTWAIT);
        *recvErrno = errno;
        if (nRead > 0) env->SetByteArrayRegion(bytes, 0, static_cast<jsize>(nRead), staging);
        return nRead;
    }
    ScopedCriticalBytes into(env, bytes);
    if (!heldOrThrow(env, into)) return -2;
    // Non-blocking, so the elements are held only for the copy.
    ssize_t nRead = ::recv(sock, into.get(), wanted, MSG_DONTWAIT);
    *recvErrno = errno;
    return nRead;
}

// Takes up to `nAvail` queued bytes off `sock` into a new Java array. The array is made
// before anything is taken, so bytes never get lost to a VM that can't hold them.
Received receiveQueued(JNIEnv* env, int sock, int nAvail) {
    size_t wanted = std::min(static_cast<size_t>(nAvail), maxReadBytes);
    ScopedLocalRef<jbyteArray> bytes(env, env->NewByteArray(static_cast<jsize>(wanted)));
    if (!bytes) return {Received::Status::Done, nullptr};
    int recvErrno = 0;
    ssize_t nRead = receiveInto(env, sock, bytes.get(), wanted, &recvErrno);
    if (nRead == -2) return {Received::Status::Done, nullptr};
    // Another reader may have taken what was queued meanwhile.
    if (nRead < 0 && (recvErrno == EAGAIN || recvErrno == EWOULDBLOCK || recvErrno == EINTR)) {
        return {Received::Status::Again, nullptr};
    }
    if (nRead < 0) {
        errno = recvErrno;
        throwIOException(env, getLastErrorMsg());
        return {Received::Status::Done, nullptr};
    }
    traceLine(1, "read %i bytes\n", static_cast<int>(nRead));
    if (nRead == 0) return {Received::Status::Done, nullptr};  // end of stream
    if (static_cast<size_t>(nRead) == wanted) return {Received::Status::Done, bytes.release()};
    // Fewer than queued: only a concurrent reader makes that happen.
    return {Received::Status::Done, exactCopy(env, bytes.get(), static_cast<jsize>(nRead))};
}

enum class Sent { All, Failed, VmFailed };

// Sends all `length` bytes, blocking as long as it takes; false with errno set when the
// connection fails.
bool sendBlocking(int sock, const jbyte* bytes, size_t length) {
    while (length > 0) {
        // MSG_NOSIGNAL: a peer that went away is an IOException, not a SIGPIPE.
        ssize_t nWritten = ::send(sock, bytes, length, MSG_NOSIGNAL);
        if (nWritten < 0 && errno == EINTR) continue;
        if (nWritten <= 0) return false;
        bytes += nWritten;
        length -= static_cast<size_t>(nWritten);
    }
    return true;
}

// Sends bytes [off, off + len) of jBuf straight from the Java array. Failed: the connection
// failed, errno set; VmFailed: the VM couldn't give the elements, an exception pending. The
// elements are held only around non-blocking sends, never during a wait for room: a thread
// holding them may keep the collector, and so the reading thread, waiting.
Sent sendAll(JNIEnv* env, int sock, jbyteArray jBuf, jint off, jint len) {
    if (static_cast<size_t>(len) <= smallTransfer) {
        jbyte staging[smallTransfer];
        env->GetByteArrayRegion(jBuf, off, len, staging);
        return sendBlocking(sock, staging, static_cast<size_t>(len)) ? Sent::All : Sent::Failed;
    }
    for (jint done = 0; done < len;) {
        ssize_t nWritten;
        int sendErrno;
        {
            ScopedCriticalBytes bytes(env, jBuf);
            if (!heldOrThrow(env, bytes)) return Sent::VmFailed;
            nWritten = ::send(sock, bytes.get() + off + done, static_cast<size_t>(len - done),
                              MSG_NOSIGNAL | MSG_DONTWAIT);
            sendErrno = errno;
        }
        if (nWritten > 0) {
            done += static_cast<jint>(nWritten);
            continue;
        }
        errno = sendErrno;
        if (nWritten < 0 && errno == EINTR) continue;
        if (nWritten < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!awaitWritable(sock)) return Sent::Failed;
            continue;
        }
        return Sent::Failed;
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
    // Taking the hand-over record takes its descriptor: closed here unless a record holds it.
    ScopedFd conn(handOver->sockFd);
    std::unique_ptr<SocketPeer> record(new (std::nothrow) SocketPeer{conn.get(), 0, handOver->uid});
    jint socketHandle = socketPeers().add(std::move(record));
    if (socketHandle == 0) {
        throwOutOfMemory(env);
        return 0;
    }
    conn.release();
    return socketHandle;
}

JNIEXPORT jint JNICALL Java_com_orvela_core_cli_UnixDomSocket_create0__Ljava_lang_String_2(
    JNIEnv* env, jobject, jstring jPath) {
    ScopedFd sock(openStreamSocket(env, jPath));
    if (!sock) return 0;
    ScopedUtfChars path(env, jPath);
    if (!path) return 0;
    std::string clientPath;
    if (!bindClientFile(env, sock.get(), &clientPath)) return 0;
    sockaddr_un server = unixAddress(path.c_str());
    if (::connect(sock.get(), reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        const char* connectError = getLastErrorMsg();
        ::unlink(clientPath.c_str());
        throwIOException(env, connectError);
        return 0;
    }
    std::unique_ptr<SocketPeer> record(new (std::nothrow) SocketPeer{sock.get(), 0, noUid});
    jint handle = socketPeers().add(std::move(record));
    if (handle == 0) {
        ::unlink(clientPath.c_str());
        throwOutOfMemory(env);
        return 0;
    }
    sock.release();
    return handle;
}

JNIEXPORT jstring JNICALL Java_com_orvela_core_cli_UnixDomSocket_getClientIdentity0(JNIEnv* env,
                                                                                    jobject obj) {
    SocketPeer peer;
    if (socketPeerOrThrow(env, obj, &peer) == nullptr) return nullptr;
    std::string name;
    if (peer.uid == noUid || !lookUpUserName(peer.uid, &name)) {
        throwIOException(env, "getpwuid_r() error");
        return nullptr;
    }
    traceLine(2, "getpwuid_r uid: %ld name %s\n", peer.uid, name.c_str());
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
    traceLine(1, "reading from socket\n");
    for (;;) {
        if (!awaitReadable(env, peer.sockFd, peer.timeout, WaitPurpose::Read)) return nullptr;
        int nAvail = 0;
        switch (queuedBytes(peer.sockFd, &nAvail)) {
            case Queued::Data:
                break;
            case Queued::EndOfStream:
                return nullptr;
            case Queued::Failed:
                throwIOException(env, getLastErrorMsg());
                return nullptr;
            case Queued::Nothing:
                continue;  // what made it readable went to another reader
        }
        Received received = receiveQueued(env, peer.sockFd, nAvail);
        if (received.status == Received::Status::Again) continue;
        return received.bytes;
    }
}

JNIEXPORT void JNICALL Java_com_orvela_core_cli_UnixDomSocket_write0(JNIEnv* env, jobject obj,
                                                                     jbyteArray jBuf, jint jOff,
                                                                     jint jLen) {
    SocketPeer peer;
    if (socketPeerOrThrow(env, obj, &peer) == nullptr) return;
    traceLine(1, "writing %i bytes\n", jLen);
    if (jBuf == nullptr) {
        JNU_ThrowByName(env, "java/lang/NullPointerException", "buffer");
        return;
    }
    if (jOff < 0 || jLen < 0 || jOff > env->GetArrayLength(jBuf) - jLen) {
        JNU_ThrowByName(env, "java/lang/ArrayIndexOutOfBoundsException", nullptr);
        return;
    }
    switch (sendAll(env, peer.sockFd, jBuf, jOff, jLen)) {
        case Sent::All:
            break;
        case Sent::Failed:
            throwIOException(env, getLastErrorMsg());
            return;
        case Sent::VmFailed:
            return;
    }
    traceLine(1, "write finished\n");
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
    // The file goes even when the handle is no longer valid: cleanup0 follows close0.
    SocketPeer peer;
    socketPeerOrThrow(env, obj, &peer);
    std::string clientPath = clientPathName();
    traceLine(2, "About to unlink %s\n", clientPath.c_str());
    if (!clientPath.empty()) ::unlink(clientPath.c_str());
}

}  // extern "C"
