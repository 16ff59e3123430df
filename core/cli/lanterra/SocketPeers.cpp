#include "core/cli/lanterra/SocketPeers.h"

#include <memory>
#include <new>
#include <utility>

#include "binding/HandleField.h"
#include "binding/ScopedMonitor.h"
#include "binding/ThrowByName.h"

namespace orvela::lanterra {

HandleRegistry<ServerSocketPeer>& serverSocketPeers() {
    static HandleRegistry<ServerSocketPeer> registry;
    return registry;
}

HandleRegistry<ServerSocketPeer>& handOverPeers() {
    static HandleRegistry<ServerSocketPeer> registry;
    return registry;
}

HandleRegistry<SocketPeer>& socketPeers() {
    static HandleRegistry<SocketPeer> registry;
    return registry;
}

jint addServerSocketPeer(HandleRegistry<ServerSocketPeer>& registry,
                         std::shared_ptr<SharedSocket> socket, long uid) {
    return registry.add(std::unique_ptr<ServerSocketPeer>(
        new (std::nothrow) ServerSocketPeer{std::move(socket), 0, uid}));
}

jint addSocketPeer(std::shared_ptr<SharedSocket> socket, long uid) {
    std::shared_ptr<Connection> conn = Connection::adopt(std::move(socket));
    if (!conn) return 0;
    return socketPeers().add(
        std::unique_ptr<SocketPeer>(new (std::nothrow) SocketPeer{std::move(conn), 0, uid}));
}

ServerSocketPeer* serverSocketPeerOrThrow(JNIEnv* env, jobject obj, ServerSocketPeer* peerCopy) {
    return copyRecordOrThrow(env, obj, serverSocketPeers(), peerCopy, "Invalid handle");
}

SocketPeer* socketPeerOrThrow(JNIEnv* env, jobject obj, SocketPeer* peerCopy) {
    return copyRecordOrThrow(env, obj, socketPeers(), peerCopy, "Invalid handle");
}

bool closedOrLiveSocket(JNIEnv* env, jobject obj) {
    ScopedMonitor monitor(env, obj);
    jfieldID handleField = monitor.entered() ? findHandleField<SocketPeer>(env, obj) : nullptr;
    if (handleField == nullptr) return false;
    jint handle = env->GetIntField(obj, handleField);
    SocketPeer peer;
    return handle == 0 || socketPeers().copy(handle, &peer);
}

template <typename Record>
void setTimeoutOf(JNIEnv* env, jobject obj, HandleRegistry<Record>& registry, jint jTimeout) {
    ScopedMonitor monitor(env, obj);
    if (!monitor.entered()) return;
    jfieldID handleField = findHandleField<Record>(env, obj);
    if (handleField == nullptr) {
        throwIOExceptionReplacing(env, "GetFieldID error");
        return;
    }
    jint handle = env->GetIntField(obj, handleField);
    if (!registry.update(handle, [jTimeout](Record& record) { record.timeout = jTimeout; })) {
        throwIOException(env, "Invalid handle");
    }
}

template <typename Record>
void closeRecordOf(JNIEnv* env, jobject obj, HandleRegistry<Record>& registry) {
    std::unique_ptr<Record> record = takeRecordOrThrow(env, obj, registry);
    if (record) socketOf(*record).close();
}

template void setTimeoutOf(JNIEnv*, jobject, HandleRegistry<ServerSocketPeer>&, jint);
template void setTimeoutOf(JNIEnv*, jobject, HandleRegistry<SocketPeer>&, jint);
template void closeRecordOf(JNIEnv*, jobject, HandleRegistry<ServerSocketPeer>&);
template void closeRecordOf(JNIEnv*, jobject, HandleRegistry<SocketPeer>&);

}  // namespace orvela::lanterra
