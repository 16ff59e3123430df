#pragma once

#include <jni.h>

#include <memory>

#include "binding/HandleRegistry.h"
#include "binding/SharedSocket.h"
#include "core/cli/lanterra/Connection.h"

namespace orvela::lanterra {

// The record of a UnixDomServerSocket (its listening socket), and the hand-over record that
// accept0 makes for each accepted connection. A copy holds the socket open: close0 marks it
// closed and wakes the copies' users, and the last of them closes it.
struct ServerSocketPeer {
    std::shared_ptr<SharedSocket> sock;
    int timeout;  // milliseconds for accept0; 0 or less waits without limit
    long uid;     // hand-over records only: the user the client runs as
};

// The record of a UnixDomSocket, on either side of a connection; copies share the connection
// as those of a ServerSocketPeer share the socket.
struct SocketPeer {
    std::shared_ptr<Connection> conn;
    int timeout;  // milliseconds for read0; 0 or less waits without limit
    long uid;     // server side: the client's user; client side: kNoUid
};

inline SharedSocket& socketOf(const ServerSocketPeer& peer) {
    return *peer.sock;
}
inline SharedSocket& socketOf(const SocketPeer& peer) {
    return peer.conn->socket();
}

// The uid of a socket that was not accepted from a client: it names nobody.
constexpr long kNoUid = -1;

// Listening sockets, by the handle in UnixDomServerSocket.handle.
HandleRegistry<ServerSocketPeer>& serverSocketPeers();
// Accepted connections between accept0 and UnixDomSocket.create0(int); whoever removes a
// record from here owns its descriptor.
HandleRegistry<ServerSocketPeer>& handOverPeers();
// Connections, by the handle in UnixDomSocket.handle.
HandleRegistry<SocketPeer>& socketPeers();

// Add a record to their registry; the handle, or 0 when memory ran out (the socket let go).
jint addServerSocketPeer(HandleRegistry<ServerSocketPeer>& registry,
                         std::shared_ptr<SharedSocket> socket, long uid);
jint addSocketPeer(std::shared_ptr<SharedSocket> socket, long uid);

// Copies the record of a UnixDomServerSocket or UnixDomSocket object into *peerCopy under the
// object's monitor. Null, with IOException "Invalid handle" in place of anything pending, when
// there is no record or the field can't be reached; every native but close0 and setSoTimeout0
// starts with one of these.
ServerSocketPeer* serverSocketPeerOrThrow(JNIEnv* env, jobject obj, ServerSocketPeer* peerCopy);
SocketPeer* socketPeerOrThrow(JNIEnv* env, jobject obj, SocketPeer* peerCopy);

// True when the handle of a UnixDomSocket object is 0 (it was closed) or designates a
// connection; false when it designates none or can't be read (an exception may be pending).
bool closedOrLiveSocket(JNIEnv* env, jobject obj);

// setSoTimeout0 of both classes: stores jTimeout into the object's record under its monitor.
template <typename Record>
void setTimeoutOf(JNIEnv* env, jobject obj, HandleRegistry<Record>& registry, jint jTimeout);

// close0 of both classes: frees the object's record, zeroes its handle and closes the socket,
// which every call still using it sees at once; the last of them closes the number.
template <typename Record>
void closeRecordOf(JNIEnv* env, jobject obj, HandleRegistry<Record>& registry);

}  // namespace orvela::lanterra
