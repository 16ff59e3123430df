#include "tests/cli/ductway/DuctwayFixture.h"

#include <atomic>
#include <thread>

#include "tests/cli/ductway/PeerProcess.h"

namespace orvela::test {

void DuctwayTest::SetUp() {
    host_.defineClass(kServerClass).intField("handle");
    // A timed-out write reports in it what the peer took, as in the real class.
    host_.defineClass("java/io/InterruptedIOException").intField("bytesTransferred");
    host_.defineClass(kClientClass).intField("handle");
    host_.defineClass(kPortClass).intField("mappedFileHandle").intField("mappedView");
    host_.defineClass("java/lang/NullPointerException");
    library_ = std::make_unique<jnihost::Library>(host_, executableDirectory() + "Ductway.dll");
    natives_ = std::make_unique<DuctwayNatives>(*library_);
}

void DuctwayTest::TearDown() {
    EXPECT_EQ(host_.pending().has_value(), false) << "exception left pending";
    std::vector<std::string> violations = host_.violations();
    for (const std::string& v : violations) ADD_FAILURE() << "JNI misuse: " << v;
    EXPECT_EQ(host_.utfCharsHeld(), 0u);
    EXPECT_EQ(host_.monitorsHeld(), 0u);
}

std::string DuctwayTest::uniquePipeName() {
    static std::atomic<int> counter{0};
    return "\\\\.\\pipe\\ductway-test-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
}

std::string DuctwayTest::systemText(DWORD err) {
    char* text = nullptr;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, err, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
        nullptr);
    std::string result = text != nullptr ? text : "";
    LocalFree(text);
    return result;
}

jobject DuctwayTest::newServer(const std::string& name, jint maxInstances) {
    jobject server = host_.newInstance(kServerClass);
    jint handle = natives_->serverCreate0(env(), server, host_.newString(name), kDuplex, kByteMode,
                                          maxInstances, 4096, 4096, 0);
    host_.setIntField(server, "handle", handle);
    return server;
}

jobject DuctwayTest::newClient(const std::string& name) {
    jobject client = host_.newInstance(kClientClass);
    jint handle = natives_->clientCreate0(env(), client, host_.newString(name), kReadWrite);
    host_.setIntField(client, "handle", handle);
    return client;
}

jobject DuctwayTest::connectClient(jobject server, const std::string& name) {
    jobject client = nullptr;
    std::thread opener([&] { client = newClient(name); });
    natives_->connect0(env(), server, 20000);
    opener.join();
    expectNothingPending();
    EXPECT_NE(host_.intField(client, "handle"), 0);
    return client;
}

void DuctwayTest::closeBoth(jobject server, jobject client) {
    natives_->clientClose0(env(), client);
    natives_->serverClose0(env(), server);
    expectNothingPending();
}

std::optional<std::string> DuctwayTest::textOf(jbyteArray array) {
    if (array == nullptr) return std::nullopt;
    std::vector<jbyte> bytes = host_.bytes(array);
    return std::string(bytes.begin(), bytes.end());
}

void DuctwayTest::expectThrown(const std::string& className,
                               const std::optional<std::string>& message) {
    std::optional<jnihost::Thrown> thrown = host_.takePending();
    ASSERT_TRUE(thrown.has_value()) << "expected " << className;
    EXPECT_EQ(thrown->className, className);
    if (message) {
        EXPECT_EQ(thrown->message, message);
    }
}

void DuctwayTest::expectNothingPending() {
    std::optional<jnihost::Thrown> thrown = host_.takePending();
    EXPECT_FALSE(thrown.has_value())
        << thrown->className << ": " << thrown->message.value_or("(no message)");
}

}  // namespace orvela::test
