#pragma once

#include <gtest/gtest.h>
#include <jni.h>
#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/cli/ductway/DuctwayNatives.h"
#include "tests/jnihost/JniHost.h"

namespace orvela::test {

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
    // A client that opens `name` on another thread while `server` waits in connect0.
    jobject connectClient(jobject server, const std::string& name);
    // Closes both ends, expecting no exception.
    void closeBoth(jobject server, jobject client);

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
