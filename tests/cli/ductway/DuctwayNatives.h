#pragma once

#include <jni.h>
#include <windows.h>

#include "tests/jnihost/JniHost.h"

namespace orvela::test {

inline constexpr char kServerClass[] = "com/orvela/core/cli/NamedPipeServer";
inline constexpr char kClientClass[] = "com/orvela/core/cli/NamedPipeClient";
inline constexpr char kPortClass[] = "com/orvela/core/cli/WinSockClientServer";

// PIPE_ACCESS_DUPLEX, byte mode, and the client's read-write access, as Java passes them.
inline constexpr jint kDuplex = PIPE_ACCESS_DUPLEX;
inline constexpr jint kByteMode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT;
inline constexpr jint kReadWrite = static_cast<jint>(GENERIC_READ | GENERIC_WRITE);

// Every native of the library, found by the names the VM looks up.
struct DuctwayNatives {
    explicit DuctwayNatives(const jnihost::Library& lib);

    jint(JNICALL* serverCreate0)(JNIEnv*, jobject, jstring, jint, jint, jint, jint, jint, jint);
    void(JNICALL* connect0)(JNIEnv*, jobject, jint);
    void(JNICALL* disconnect0)(JNIEnv*, jobject);
    jstring(JNICALL* getClientUserName0)(JNIEnv*, jobject);
    jint(JNICALL* getCurrentInstances0)(JNIEnv*, jobject);
    void(JNICALL* serverClose0)(JNIEnv*, jobject);
    void(JNICALL* serverFlush0)(JNIEnv*, jobject);
    jbyteArray(JNICALL* serverRead0)(JNIEnv*, jobject, jint);
    jint(JNICALL* serverRead1)(JNIEnv*, jobject, jbyteArray, jint, jint, jint);
    void(JNICALL* serverWrite0)(JNIEnv*, jobject, jbyteArray, jint, jint, jint);

    jint(JNICALL* clientCreate0)(JNIEnv*, jobject, jstring, jint);
    jbyteArray(JNICALL* clientRead0)(JNIEnv*, jobject, jint);
    jint(JNICALL* clientRead1)(JNIEnv*, jobject, jbyteArray, jint, jint, jint);
    void(JNICALL* clientWrite0)(JNIEnv*, jobject, jbyteArray, jint, jint, jint);
    void(JNICALL* clientFlush0)(JNIEnv*, jobject);
    void(JNICALL* clientClose0)(JNIEnv*, jobject);

    void(JNICALL* advertisePort0)(JNIEnv*, jobject, jstring, jint);
    void(JNICALL* unadvertisePort0)(JNIEnv*, jobject, jint, jint);
};

}  // namespace orvela::test
