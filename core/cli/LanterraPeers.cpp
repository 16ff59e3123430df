#include "core/cli/LanterraPeers.h"

#include <memory>

#include "binding/HandleField.h"
#include "binding/ScopedMonitor.h"
#include "binding/ThrowByName.h"

namespace orvela {

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

ServerSocketPeer* getServerSocketPeer(JNIEnv* env, jobject obj, ServerSocketPeer* peerCopy) {
    return copyRecordOf(env, obj, serverSocketPeers(), peerCopy);
}

SocketPeer* getSocketPeer(JNIEnv* env, jobject obj, SocketPeer* peerCopy) {
    return copyRecordOf(env, obj, socketPeers(), peerCopy);
}

namespace {

template <typename Record>
Record* orInvalidHandle(JNIEnv* env, Record* copy) {
    if (copy == nullptr) throwReplacingPending(env, "java/io/IOException", "Invalid handle");
    return copy;
}

}  // namespace

ServerSocketPeer* serverSocketPeerOrThrow(JNIEnv* env, jobject obj, ServerSocketPeer* peerCopy) {
    return orInvalidHandle(env, getServerSocketPeer(env, obj, peerCopy));
}

SocketPeer* socketPeerOrThrow(JNIEnv* env, jobject obj, SocketPeer* peerCopy) {
    return orInvalidHandle(env, getSocketPeer(env, obj, peerCopy));
}

template <typename Record>
void setTimeoutOf(JNIEnv* env, jobject obj, HandleRegistry<Record>& registry, jint jTimeout) {
    ScopedMonitor monitor(env, obj);
    if (!monitor.entered()) return;
    jfieldID handleField = findHandleField(env, obj);
    if (handleField == nullptr) {
        throwReplacingPending(env, "java/io/IOException", "GetFieldID error");
        return;
    }
    jint handle = env->GetIntField(obj, handleField);
    if (!registry.update(handle, [jTimeout](Record& record) { record.timeout = jTimeout; })) {
        throwIOException(env, "Invalid handle");
    }
}

template <typename Record>
void closeRecordOf(JNIEnv* env, jobject obj, HandleRegistry<Record>& registry) {
    jfieldID handleField = findHandleField(env, obj);
    if (handleField == nullptr) {
        throwReplacingPending(env, "java/io/IOException", "GetFieldID failed");
        return;
    }
    std::unique_ptr<Record> record = registry.remove(env->GetIntField(obj, handleField));
    if (!record) {
        throwIOException(env, "Invalid handle");
        return;
    }
    env->SetIntField(obj, handleField, 0);
    socketOf(*record).close();
}

template void setTimeoutOf(JNIEnv*, jobject, HandleRegistry<ServerSocketPeer>&, jint);
template void setTimeoutOf(JNIEnv*, jobject, HandleRegistry<SocketPeer>&, jint);
template void closeRecordOf(JNIEnv*, jobject, HandleRegistry<ServerSocketPeer>&);
template void closeRecordOf(JNIEnv*, jobject, HandleRegistry<SocketPeer>&);

}  // namespace orvela
