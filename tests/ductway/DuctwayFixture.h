#pragma once

#include <gtest/gtest.h>
#include <jni.h>
#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

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
    void(JNICALL* serverWrite0)(JNIEnv*, jobject, jbyteArray, jint, jint, jint);

    jint(JNICALL* clientCreate0)(JNIEnv*, jobject, jstring, jint);
    jbyteArray(JNICALL* clientRead0)(JNIEnv*, jobject, jint);
    void(JNICALL* clientWrite0)(JNIEnv*, jobject, jbyteArray, jint, jint, jint);
    void(JNICALL* clientFlush0)(JNIEnv*, jobject);
    void(JNICALL* clientClose0)(JNIEnv*, jobject);

    void(JNICALL* advertisePort0)(JNIEnv*, jobject, jstring, jint);
    void(JNICALL* unadvertisePort0)(JNIEnv*, jobject, jint, jint);
};

// Loads Ductway.dll (next to the test executable) into a fresh JNI test host per test and
// checks after each test that no JNI rule was broken and nothing was left held.
class DuctwayTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    JNIEnv* env() { return host_.env(); }

    // A pipe name that no other test or run uses.
    static std::string uniquePipeName();
    // The system's text for `err`, as the library reports it.
    static std::string systemText(DWORD err);

    // A NamedPipeServer object with a new instance of `name`; check handle != 0.
    jobject newServer(const std::string& name, jint maxInstances = PIPE_UNLIMITED_INSTANCES);
    // A NamedPipeClient object connected to `name` (create0 on the calling thread).
    jobject newClient(const std::string& name);

    // Byte helpers for the pipe natives.
    jbyteArray bytesOf(const std::string& text) {
        return host_.newByteArray(std::vector<jbyte>(text.begin(), text.end()));
    }
    std::optional<std::string> textOf(jbyteArray array);

    // The pending exception is `className` with `message` (any message when not given), and
    // is cleared.
    void expectThrown(const std::string& className,
                      const std::optional<std::string>& message = std::nullopt);
    void expectNothingPending();

    jnihost::Host host_;
    std::unique_ptr<jnihost::Library> library_;
    std::unique_ptr<DuctwayNatives> natives_;
};

}  // namespace orvela::test
