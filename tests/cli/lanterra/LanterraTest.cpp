// Lanterra's natives in the JNI test host: the failures a real VM won't produce on demand, and
// signals during timed waits. Every test also checks that no JNI call was made with an exception
// pending and that nothing (UTF chars, monitors) was left held.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "binding/ScopedFd.h"
#include "tests/jnihost/JniHost.h"
#include "tests/support/cpp/CapturedOutput.h"
#include "tests/support/cpp/OpenDescriptors.h"

namespace {

using orvela::ScopedFd;
using orvela::jnihost::Args;
using orvela::jnihost::Fault;
using orvela::jnihost::Host;
using orvela::jnihost::Library;
using orvela::jnihost::Thrown;
using orvela::test::openDescriptors;

const char* const kServer = "com/orvela/core/cli/UnixDomServerSocket";
const char* const kSocket = "com/orvela/core/cli/UnixDomSocket";

bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// A plain client socket connected to `path` and bound to an owner-only file of its own, as
// the protocol asks; lets a test watch the server side drop the connection. -1 when it can't
// connect.
int rawClient(const std::string& path, const std::string& ownPath) {
    ScopedFd fd(socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un own{};
    own.sun_family = AF_UNIX;
    std::strncpy(own.sun_path, ownPath.c_str(), sizeof own.sun_path - 1);
    unlink(ownPath.c_str());
    bind(fd.get(), reinterpret_cast<sockaddr*>(&own), sizeof own);
    chmod(ownPath.c_str(), 0700);
    sockaddr_un server{};
    server.sun_family = AF_UNIX;
    std::strncpy(server.sun_path, path.c_str(), sizeof server.sun_path - 1);
    if (connect(fd.get(), reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) return -1;
    return fd.release();
}

// True when the other end closed the connection (a blocking read sees the end of the stream).
bool peerClosed(int fd) {
    char byte;
    return recv(fd, &byte, 1, 0) == 0;
}

class LanterraTest : public ::testing::Test {
  protected:
    using ServerCreate = jint(JNICALL*)(JNIEnv*, jobject, jstring, jint);
    using ObjectVoid = void(JNICALL*)(JNIEnv*, jobject);
    using ObjectInt = void(JNICALL*)(JNIEnv*, jobject, jint);
    using Accept = jobject(JNICALL*)(JNIEnv*, jobject);
    using CreateFromHandOver = jint(JNICALL*)(JNIEnv*, jobject, jint);
    using CreateClient = jint(JNICALL*)(JNIEnv*, jobject, jstring);
    using Identity = jstring(JNICALL*)(JNIEnv*, jobject);
    using Read = jbyteArray(JNICALL*)(JNIEnv*, jobject);
    using ReadInto = jint(JNICALL*)(JNIEnv*, jobject, jbyteArray, jint, jint);
    using Write = void(JNICALL*)(JNIEnv*, jobject, jbyteArray, jint, jint);

    LanterraTest() {
        char pattern[] = "/tmp/lanterra-host-XXXXXX";
        dir = mkdtemp(pattern);
        serverPath = dir + "/server";
        rawClientPath = dir + "/raw-client";
        clientFile = "/var/tmp/" + std::to_string(getpid());
        // Level 1 diagnostics, for the line of an interrupted wait.
        setenv("ZELKCLI_DEBUG", "1", 1);
        lib = std::make_unique<Library>(host, LANTERRA_LIBRARY);
        unsetenv("ZELKCLI_DEBUG");

        serverCreate = lib->native<ServerCreate>(kServer, "create0", "(Ljava/lang/String;I)I");
        serverTimeout = lib->native<ObjectInt>(kServer, "setSoTimeout0", "(I)V");
        accept = lib->native<Accept>(kServer, "accept0", "()Lcom/orvela/core/cli/UnixDomSocket;");
        serverClose = lib->native<ObjectVoid>(kServer, "close0", "()V");
        createFromHandOver = lib->native<CreateFromHandOver>(kSocket, "create0", "(I)I", true);
        createClient = lib->native<CreateClient>(kSocket, "create0", "(Ljava/lang/String;)I", true);
        identity = lib->native<Identity>(kSocket, "getClientIdentity0", "()Ljava/lang/String;");
        socketTimeout = lib->native<ObjectInt>(kSocket, "setSoTimeout0", "(I)V");
        read = lib->native<Read>(kSocket, "read0", "()[B");
        readInto = lib->native<ReadInto>(kSocket, "read1", "([BII)I");
        write = lib->native<Write>(kSocket, "write0", "([BII)V");
        flush = lib->native<ObjectVoid>(kSocket, "flush0", "()V");
        socketClose = lib->native<ObjectVoid>(kSocket, "close0", "()V");
        cleanup = lib->native<ObjectVoid>(kSocket, "cleanup0", "()V");

        host.defineClass(kServer).intField("handle");
        // UnixDomSocket(int handOver) { handle = create0(handOver); }, unless a test replaces it.
        host.defineClass(kSocket).intField("handle").constructor(
            "(I)V", [this](JNIEnv* e, jobject self, const Args& args) {
                if (constructorBody) return constructorBody(e, self, args.i(0));
                jint handle = createFromHandOver(e, self, args.i(0));
                if (!host.pending()) host.setIntField(self, "handle", handle);
            });
    }

    ~LanterraTest() override {
        unlink(clientFile.c_str());
        unlink(serverPath.c_str());
        unlink(rawClientPath.c_str());
        rmdir(dir.c_str());
    }

    void TearDown() override {
        EXPECT_EQ(host.violations(), std::vector<std::string>{});
        EXPECT_EQ(host.utfCharsHeld(), 0u);
        EXPECT_EQ(host.monitorsHeld(), 0u);
        EXPECT_EQ(host.criticalsHeld(), 0u);
    }

    jobject openServer() {
        jobject server = host.newInstance(kServer);
        host.setIntField(server, "handle",
                         serverCreate(env, server, host.newString(serverPath), 5));
        EXPECT_FALSE(host.pending());
        return server;
    }

    jobject connectClient() {
        jobject client = host.newInstance(kSocket);
        host.setIntField(client, "handle", createClient(env, client, host.newString(serverPath)));
        EXPECT_FALSE(host.pending());
        return client;
    }

    // A server, a client connected to it, and the server's end of that connection.
    struct Connection {
        jobject server, client, accepted;
    };

    Connection openConnection() {
        jobject server = openServer();
        jobject client = connectClient();
        return {server, client, accept(env, server)};
    }

    void closeConnection(const Connection& c) {
        socketClose(env, c.accepted);
        socketClose(env, c.client);
        serverClose(env, c.server);
    }

    void send(jobject socket, const std::string& text) {
        std::vector<jbyte> bytes(text.begin(), text.end());
        write(env, socket, host.newByteArray(bytes), 0, static_cast<jint>(bytes.size()));
        ASSERT_FALSE(host.pending());
    }

    std::string received(jbyteArray array) {
        if (array == nullptr) return "<null>";
        std::vector<jbyte> bytes = host.bytes(array);
        return std::string(bytes.begin(), bytes.end());
    }

    // The exception the last call left, cleared.
    Thrown thrown() {
        std::optional<Thrown> pending = host.takePending();
        EXPECT_TRUE(pending.has_value());
        return pending.value_or(Thrown{"<nothing pending>", std::nullopt});
    }

    void expectThrown(const std::string& className, const char* message) {
        expectIs(thrown(), className, message);
    }

    static void expectIs(const Thrown& t, const std::string& className, const char* message) {
        EXPECT_EQ(t.className, className);
        if (message == nullptr) {
            EXPECT_FALSE(t.message.has_value());
        } else {
            EXPECT_EQ(t.message.value_or("<no message>"), message);
        }
    }

    // A client connects and accept0, failing as the test arranged, drops it; returns what
    // accept0 threw.
    Thrown acceptDropsClient(jobject server) {
        ScopedFd raw(rawClient(serverPath, rawClientPath));
        EXPECT_EQ(accept(env, server), nullptr);
        Thrown t = thrown();
        EXPECT_TRUE(peerClosed(raw.get()));
        return t;
    }

    Host host;
    JNIEnv* env = host.env();
    std::unique_ptr<Library> lib;
    std::string dir, serverPath, rawClientPath, clientFile;
    std::function<void(JNIEnv*, jobject, jint)> constructorBody;

    ServerCreate serverCreate;
    ObjectInt serverTimeout;
    Accept accept;
    ObjectVoid serverClose;
    CreateFromHandOver createFromHandOver;
    CreateClient createClient;
    Identity identity;
    ObjectInt socketTimeout;
    Read read;
    ReadInto readInto;
    Write write;
    ObjectVoid flush;
    ObjectVoid socketClose;
    ObjectVoid cleanup;
};

// Both ends, read0 and read1 alike, also when the VM lends no elements for a while.
TEST_F(LanterraTest, AWriteLargerThanTheSocketBufferWaitsForRoomOutsideCriticalRegions) {
    auto [server, client, accepted] = openConnection();
    ASSERT_NE(accepted, nullptr);
    std::vector<jbyte> big(4 << 20);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<jbyte>(i * 7 + i / 4096);
    jbyteArray bigArray = host.newByteArray(big);
    host.inject(Fault::GetPrimitiveArrayCritical, 20, "", 5);
    std::thread writer([&] {
        write(host.env(), client, bigArray, 0, static_cast<jint>(big.size()));
        EXPECT_FALSE(host.pending());
    });
    std::vector<jbyte> got;
    jbyteArray buffer = host.newByteArray(std::vector<jbyte>(100 * 1024));
    for (int i = 0; got.size() < big.size(); ++i) {
        std::vector<jbyte> bytes;
        if (i % 2 == 0) {
            jbyteArray part = read(env, accepted);
            ASSERT_NE(part, nullptr);
            bytes = host.bytes(part);
            env->DeleteLocalRef(part);
        } else {
            jint count = readInto(env, accepted, buffer, 0, 100 * 1024);
            ASSERT_GT(count, 0);
            bytes = host.bytes(buffer);
            bytes.resize(static_cast<size_t>(count));
        }
        got.insert(got.end(), bytes.begin(), bytes.end());
    }
    writer.join();
    EXPECT_FALSE(host.pending());
    EXPECT_TRUE(got == big);
    closeConnection({server, client, accepted});
}

TEST_F(LanterraTest, PathBytesTheVmCantSupplyCreateNothing) {
    size_t before = openDescriptors();
    host.inject(Fault::GetStringUTFChars, 2);
    jobject server = host.newInstance(kServer);
    EXPECT_EQ(serverCreate(env, server, host.newString(serverPath), 5), 0);
    expectThrown("java/lang/OutOfMemoryError", nullptr);
    jobject client = host.newInstance(kSocket);
    EXPECT_EQ(createClient(env, client, host.newString(serverPath)), 0);
    expectThrown("java/lang/OutOfMemoryError", nullptr);
    EXPECT_FALSE(exists(serverPath));
    EXPECT_FALSE(exists(clientFile));
    EXPECT_EQ(openDescriptors(), before);
}

// Whatever keeps accept0 from making the socket object, the connection is closed and its
// hand-over record released, once.
TEST_F(LanterraTest, AnObjectAcceptCantMakeReleasesTheHandOverRecordOnceAndClosesTheConnection) {
    jobject server = openServer();
    size_t before = openDescriptors();

    // The VM fails before the constructor runs.
    host.inject(Fault::FindClass, 1, kSocket);
    expectIs(acceptDropsClient(server), "java/lang/NoClassDefFoundError", kSocket);
    host.inject(Fault::GetMethodID, 1, "<init>");
    EXPECT_EQ(acceptDropsClient(server).className, "java/lang/NoSuchMethodError");
    host.inject(Fault::NewObject, 1, kSocket);
    expectIs(acceptDropsClient(server), "java/lang/OutOfMemoryError", nullptr);
    EXPECT_EQ(openDescriptors(), before);

    // The constructor throws without taking the record: accept0 releases it, and the value is
    // worth nothing afterwards.
    std::vector<jint> offered;
    constructorBody = [&](JNIEnv*, jobject, jint handOver) {
        offered.push_back(handOver);
        host.throwPending("java/lang/OutOfMemoryError", std::nullopt);
    };
    expectIs(acceptDropsClient(server), "java/lang/OutOfMemoryError", nullptr);
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(createFromHandOver(env, nullptr, offered[0]), 0);
    expectThrown("java/io/IOException", "Invalid handle");
    EXPECT_EQ(openDescriptors(), before);

    // A record is taken exactly once, even when offered twice.
    constructorBody = [&](JNIEnv* e, jobject self, jint handOver) {
        jint handle = createFromHandOver(e, self, handOver);
        EXPECT_NE(handle, 0);
        EXPECT_EQ(createFromHandOver(e, self, handOver), 0);
        expectThrown("java/io/IOException", "Invalid handle");
        host.setIntField(self, "handle", handle);
    };
    {
        ScopedFd raw(rawClient(serverPath, rawClientPath));
        jobject accepted = accept(env, server);
        ASSERT_NE(accepted, nullptr);
        ASSERT_EQ(::send(raw.get(), "x", 1, 0), 1);
        EXPECT_EQ(received(read(env, accepted)), "x");
        socketClose(env, accepted);
        EXPECT_TRUE(peerClosed(raw.get()));
    }
    EXPECT_EQ(openDescriptors(), before);

    // An exception class the VM can't find leaves the VM's error instead.
    serverClose(env, server);
    host.inject(Fault::FindClass, 1, "java/io/IOException");
    serverClose(env, server);
    expectThrown("java/lang/NoClassDefFoundError", "java/io/IOException");
}

TEST_F(LanterraTest, AMonitorThatCantBeEnteredMeansInvalidHandleAndNoChange) {
    jobject server = openServer();
    jobject client = connectClient();
    jobject accepted = accept(env, server);
    ASSERT_NE(accepted, nullptr);
    socketTimeout(env, accepted, 10);

    host.inject(Fault::MonitorEnter, -1);
    accept(env, server);
    expectThrown("java/io/IOException", "Invalid handle");
    read(env, accepted);
    expectThrown("java/io/IOException", "Invalid handle");
    write(env, client, host.newByteArray({1}), 0, 1);
    expectThrown("java/io/IOException", "Invalid handle");
    write(env, accepted, host.newByteArray({1}), 0, 1);
    expectThrown("java/io/IOException", "Invalid handle");
    flush(env, accepted);
    expectThrown("java/io/IOException", "Invalid handle");
    identity(env, accepted);
    expectThrown("java/io/IOException", "Invalid handle");
    socketTimeout(env, accepted, 0);
    EXPECT_FALSE(host.pending()) << "setSoTimeout0 raises nothing of its own";
    serverTimeout(env, server, 0);
    EXPECT_FALSE(host.pending());
    cleanup(env, client);
    expectThrown("java/io/IOException", "Invalid handle");
    EXPECT_FALSE(exists(clientFile)) << "cleanup0 removes the file all the same";
    host.clearInjections();

    // The time-out of 10 ms still holds.
    read(env, accepted);
    expectThrown("java/io/InterruptedIOException", "timeout");
    socketClose(env, accepted);
    socketClose(env, client);
    serverClose(env, server);
}

TEST_F(LanterraTest, AMissingHandleFieldIsReportedPerOperation) {
    jobject server = openServer();
    jobject client = connectClient();
    host.inject(Fault::GetFieldID, -1, "handle");
    serverTimeout(env, server, 5);
    expectThrown("java/io/IOException", "GetFieldID error");
    serverClose(env, server);
    expectThrown("java/io/IOException", "GetFieldID failed");
    accept(env, server);
    expectThrown("java/io/IOException", "Invalid handle");
    read(env, client);
    expectThrown("java/io/IOException", "Invalid handle");
    socketClose(env, client);
    expectThrown("java/io/IOException", "GetFieldID failed");
    host.clearInjections();
    socketClose(env, client);
    serverClose(env, server);
    EXPECT_FALSE(host.pending());
}

// And the plain conversation around it: what the VM can give, both ends use cleanly.
TEST_F(LanterraTest, AnArrayTheVmCantMakeLosesNoBytes) {
    auto [server, client, accepted] = openConnection();
    ASSERT_NE(accepted, nullptr);
    EXPECT_EQ(host.utf(identity(env, accepted)), "root") << "tests run as root";
    send(accepted, "pong");
    EXPECT_EQ(received(read(env, client)), "pong");
    send(client, "kept");
    host.inject(Fault::NewByteArray);
    EXPECT_EQ(read(env, accepted), nullptr);
    expectThrown("java/lang/OutOfMemoryError", nullptr);
    EXPECT_EQ(received(read(env, accepted)), "kept");

    // A transfer larger than a read's first buffer: an array the VM can't make keeps what was
    // taken for the next read; elements it can't give leave the rest queued.
    std::string large;
    for (int i = 0; i < 20000; ++i) large += static_cast<char>('a' + i % 26);
    send(client, large);
    host.inject(Fault::NewByteArray);
    EXPECT_EQ(read(env, accepted), nullptr);
    expectThrown("java/lang/OutOfMemoryError", nullptr);
    std::string got = received(read(env, accepted));
    host.inject(Fault::GetPrimitiveArrayCritical);
    got += received(read(env, accepted));
    EXPECT_FALSE(host.pending());
    send(client, "!");
    while (got.size() < large.size() + 1) {
        jbyteArray part = read(env, accepted);
        ASSERT_NE(part, nullptr);
        got += received(part);
    }
    EXPECT_EQ(got, large + "!");

    host.inject(Fault::NewStringUTF);
    EXPECT_EQ(identity(env, accepted), nullptr);
    expectThrown("java/lang/OutOfMemoryError", nullptr);

    socketClose(env, accepted);
    EXPECT_EQ(read(env, client), nullptr) << "end of stream";
    EXPECT_FALSE(host.pending());
    socketClose(env, client);
    serverClose(env, server);
    EXPECT_FALSE(host.pending());
}

std::atomic<int> signalsHandled{0};
void countSignal(int) {
    ++signalsHandled;
}

// Polls `condition` every millisecond for up to a minute (qemu runs this several times slower);
// false when it never held.
bool within(const std::function<bool()>& condition) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The system call thread `tid` is in, as /proc shows it; -1 when running or unreadable.
long currentSyscall(pid_t tid) {
    std::ifstream current("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    current >> number;
    return number;
}

// The numbers /proc shows for a thread blocked in poll. Under a user-mode emulator (qemu) the
// kernel shows the host's numbering, not this program's, so a thread of our own blocked in poll
// is asked. Empty when /proc doesn't show it.
std::vector<long> pollSyscallNumbers() {
    int ends[2];
    if (pipe(ends) != 0) return {};
    ScopedFd readEnd(ends[0]), writeEnd(ends[1]);
    std::atomic<pid_t> tid{0};
    std::thread blocked([&] {
        tid = static_cast<pid_t>(syscall(SYS_gettid));
        pollfd entry{readEnd.get(), POLLIN, 0};
        ::poll(&entry, 1, 120000);
    });
    // A number that holds for 100 readings in a row is the wait, not a step on the way to it.
    long number = -1;
    int sameReadings = 0;
    bool settled = within([&] {
        long now = tid == 0 ? -1 : currentSyscall(tid);
        sameReadings = now != -1 && now == number ? sameReadings + 1 : 0;
        number = now;
        return sameReadings == 100;
    });
    char release = 0;
    if (::write(writeEnd.get(), &release, 1) != 1) ADD_FAILURE() << "can't wake the poll";
    blocked.join();
    if (!settled) return {};
    std::vector<long> numbers{number, SYS_ppoll};
#ifdef SYS_poll
    numbers.push_back(SYS_poll);
#endif
    return numbers;
}

// Runs `wait` on a thread of its own, interrupts it with a signal once it is blocked in poll,
// lets it handle the signal and block again, then runs `release` (which gives the wait what it
// waits for) and joins. Each step has a time limit; one that passes fails the test and the wait
// is released all the same.
void interruptWhileWaiting(const std::vector<long>& pollNumbers, const std::function<void()>& wait,
                           const std::function<void()>& release) {
    std::atomic<pid_t> tid{0};
    std::atomic<bool> finished{false};
    std::thread waiter([&] {
        tid = static_cast<pid_t>(syscall(SYS_gettid));
        wait();
        finished = true;
    });
    // A wait that ends on the signal never blocks again: the test then fails on its result.
    auto inPoll = [&] {
        if (finished) return true;
        if (tid == 0) return false;
        long number = currentSyscall(tid);
        return std::find(pollNumbers.begin(), pollNumbers.end(), number) != pollNumbers.end();
    };
    if (!within(inPoll)) {
        ADD_FAILURE() << "the wait never blocked in poll";
    } else {
        int handled = signalsHandled;
        pthread_kill(waiter.native_handle(), SIGUSR1);
        if (!within([&] { return signalsHandled != handled; })) {
            ADD_FAILURE() << "the signal was never handled";
        } else if (!within(inPoll)) {
            ADD_FAILURE() << "the wait didn't block in poll again after the signal";
        }
    }
    release();
    waiter.join();
}

// A signal's handler for the scope; the one before comes back when it ends, also when an
// assertion leaves the test early.
class ScopedSignalHandler {
  public:
    ScopedSignalHandler(int signal, void (*handler)(int)) : signal_(signal) {
        struct sigaction action {};
        action.sa_handler = handler;  // no SA_RESTART: poll returns EINTR
        installed_ = sigaction(signal_, &action, &previous_) == 0;
    }
    ~ScopedSignalHandler() {
        if (installed_) sigaction(signal_, &previous_, nullptr);
    }
    ScopedSignalHandler(const ScopedSignalHandler&) = delete;
    ScopedSignalHandler& operator=(const ScopedSignalHandler&) = delete;

    bool installed() const { return installed_; }

  private:
    int signal_;
    struct sigaction previous_ {};
    bool installed_ = false;
};

TEST_F(LanterraTest, ASignalDuringATimedWaitRestartsIt) {
    std::vector<long> pollNumbers = pollSyscallNumbers();
    if (pollNumbers.empty()) {
        GTEST_SKIP() << "/proc/self/task/<tid>/syscall doesn't show a thread blocked in poll";
    }
    ScopedSignalHandler handler(SIGUSR1, countSignal);
    ASSERT_TRUE(handler.installed());

    jobject server = openServer();
    serverTimeout(env, server, 60000);
    jobject accepted = nullptr;
    std::optional<Thrown> acceptError;
    jobject client = nullptr;
    interruptWhileWaiting(
        pollNumbers,
        [&] {
            accepted = accept(host.env(), server);
            acceptError = host.takePending();
        },
        [&] { client = connectClient(); });
    ASSERT_FALSE(acceptError.has_value()) << acceptError->message.value_or("");
    ASSERT_NE(accepted, nullptr);

    socketTimeout(env, accepted, 60000);
    jbyteArray bytes = nullptr;
    std::optional<Thrown> readError;
    orvela::test::CapturedOutput err(stderr);
    interruptWhileWaiting(
        pollNumbers,
        [&] {
            bytes = read(host.env(), accepted);
            readError = host.takePending();
        },
        [&] { send(client, "after the signal"); });
    std::string diagnostics = err.take();
    ASSERT_FALSE(readError.has_value()) << readError->message.value_or("");
    EXPECT_EQ(received(bytes), "after the signal");
    EXPECT_NE(diagnostics.find("Interrupted, try again\n"), std::string::npos) << diagnostics;

    socketClose(env, accepted);
    socketClose(env, client);
    serverClose(env, server);
}

}  // namespace
