// The Windows binding pieces, called through a test-only library loaded into the JNI test host.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "binding/ScopedHandle.h"
#include "tests/jnihost/JniHost.h"

namespace orvela::jnihost {
namespace {

const char* const kProbe = "com/orvela/test/windows/WinBindingProbe";

// The system's text for ERROR_FILE_NOT_FOUND: Windows' own, or Wine's.
bool isFileNotFoundText(const std::string& text) {
    return text == "The system cannot find the file specified.\r\n" ||
           text == "File not found.\r\n";
}

// A code in the customer range, for which the system has no text.
const jint kCodeWithoutText = 0x20001234;

class WinBindingTest : public ::testing::Test {
  protected:
    WinBindingTest() : lib(host, WIN_BINDING_PROBE_LIBRARY) {
        probe = host.defineClass(kProbe).ref();
        lastErrorMsg = lib.native<TextFn>(kProbe, "lastErrorMsg", "(I)Ljava/lang/String;");
        threadErrorMsg = lib.native<TextFn>(kProbe, "threadErrorMsg", "(I)Ljava/lang/String;");
        throwSystemError = lib.native<ThrowFn>(kProbe, "throwSystemError", "(I)V");
        throwSystemErrorReplacing =
            lib.native<ThrowFn>(kProbe, "throwSystemErrorReplacing", "(I)V");
    }

    std::optional<std::string> text(jstring str) {
        if (str == nullptr) return std::nullopt;
        return host.utf(str);
    }

    Host host;
    JNIEnv* env = host.env();
    Library lib;
    jclass probe = nullptr;

    using TextFn = jstring(JNICALL*)(JNIEnv*, jclass, jint);
    using ThrowFn = void(JNICALL*)(JNIEnv*, jclass, jint);
    TextFn lastErrorMsg = nullptr;
    TextFn threadErrorMsg = nullptr;
    ThrowFn throwSystemError = nullptr;
    ThrowFn throwSystemErrorReplacing = nullptr;
};

TEST_F(WinBindingTest, ErrorTextIsTheSystemsWithItsLineBreakOrNullWithoutOne) {
    std::optional<std::string> notFound = text(lastErrorMsg(env, probe, ERROR_FILE_NOT_FOUND));
    ASSERT_TRUE(notFound.has_value());
    EXPECT_PRED1(isFileNotFoundText, *notFound);

    EXPECT_EQ(text(lastErrorMsg(env, probe, kCodeWithoutText)), std::nullopt);

    // Without an argument: the thread's last error.
    EXPECT_EQ(text(threadErrorMsg(env, probe, ERROR_ACCESS_DENIED)),
              text(lastErrorMsg(env, probe, ERROR_ACCESS_DENIED)));
    EXPECT_EQ(text(threadErrorMsg(env, probe, kCodeWithoutText)), std::nullopt);
    EXPECT_EQ(host.violations(), std::vector<std::string>{});
}

TEST_F(WinBindingTest, SystemErrorIsThrownWithItsTextOrWithoutMessage) {
    throwSystemError(env, probe, ERROR_FILE_NOT_FOUND);
    std::optional<Thrown> thrown = host.takePending();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ(thrown->className, "java/io/IOException");
    ASSERT_TRUE(thrown->message.has_value());
    EXPECT_PRED1(isFileNotFoundText, *thrown->message);

    throwSystemError(env, probe, kCodeWithoutText);
    thrown = host.takePending();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ(thrown->className, "java/io/IOException");
    EXPECT_EQ(thrown->message, std::nullopt);

    // The second exception takes the place of the pending time-out, with no JNI call made
    // while the first was pending.
    throwSystemErrorReplacing(env, probe, ERROR_FILE_NOT_FOUND);
    thrown = host.takePending();
    ASSERT_TRUE(thrown.has_value());
    EXPECT_EQ(thrown->className, "java/lang/IllegalArgumentException");
    ASSERT_TRUE(thrown->message.has_value());
    EXPECT_PRED1(isFileNotFoundText, *thrown->message);
    EXPECT_EQ(host.violations(), std::vector<std::string>{});
}

// Runs the loader program on the probe library with ZELKCLI_DEBUG set to `level` (unset when
// null) and returns its exit code.
DWORD loadInChildProcess(const char* level) {
    SetEnvironmentVariableA("ZELKCLI_DEBUG", level);
    std::string commandLine =
        std::string("\"") + LOAD_LIBRARY_PROGRAM + "\" \"" + WIN_BINDING_PROBE_LIBRARY + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &child);
    SetEnvironmentVariableA("ZELKCLI_DEBUG", nullptr);
    if (!started) {
        ADD_FAILURE() << "cannot start " << commandLine << ": error " << GetLastError();
        return 0xFFFFFFFF;
    }
    ScopedHandle process(child.hProcess);
    ScopedHandle thread(child.hThread);
    DWORD exitCode = 0xFFFFFFFF;
    if (WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.get(), &exitCode);
    } else {
        ADD_FAILURE() << "the loader did not end";
        TerminateProcess(process.get(), 1);
    }
    return exitCode;
}

TEST(WinOnLoadTest, DebugLevelAboveThreeStopsTheLoadAtABreakpoint) {
    EXPECT_EQ(loadInChildProcess("4"), static_cast<DWORD>(EXCEPTION_BREAKPOINT));
    EXPECT_EQ(loadInChildProcess("3"), 0u);
    EXPECT_EQ(loadInChildProcess(nullptr), 0u);
    EXPECT_EQ(loadInChildProcess("abc"), 0u);
}

}  // namespace
}  // namespace orvela::jnihost
