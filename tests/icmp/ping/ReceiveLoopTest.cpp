// The receive loop and the sender on real raw sockets, with the kernel's own echo replies from
// 127.0.0.1. Needs root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <future>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "binding/ScopedFd.h"
#include "core/icmp/PingService.h"
#include "tests/support/cpp/CapturedOutput.h"

namespace {

using orvela::icmp::PingReply;
using orvela::icmp::ReplySink;
using orvela::icmp::runReceiveLoop;

constexpr int32_t kLoopback = 0x7F000001;
constexpr auto kPatience = std::chrono::seconds(20);

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

// Collects the replies of one loop.
class RecordingSink final : public ReplySink {
  public:
    bool onReply(const PingReply& reply) override {
        std::lock_guard<std::mutex> lock(mutex_);
        replies_.push_back(reply);
        changed_.notify_all();
        return true;
    }

    // Waits until a reply of ours with this request id has come in.
    bool awaitOwn(uint16_t reqID) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] {
            for (const PingReply& r : replies_) {
                const bool loopback = r.family == AF_INET6 ? IN6_IS_ADDR_LOOPBACK(&r.address6)
                                                           : r.address == uint32_t{kLoopback};
                if (r.reqID == reqID && loopback) return true;
            }
            return false;
        });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<PingReply> replies_;
};

// A socket from icmp_init (or openPingSocket6), shut down when the scope ends; shutting down
// again is a no-op, also once another open has taken the number.
class PingSocket {
  public:
    explicit PingSocket(bool ipv6 = false)
        : fd_(ipv6 ? orvela::icmp::openPingSocket6() : icmp_init()) {}
    ~PingSocket() { icmp_shutdown(fd_); }
    PingSocket(const PingSocket&) = delete;
    PingSocket& operator=(const PingSocket&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// A receive loop on its own thread.
class LoopThread {
  public:
    LoopThread(int fd, ReplySink* sink) {
        std::promise<void> finished;
        done_ = finished.get_future();
        thread_ = std::thread([fd, sink, finished = std::move(finished)]() mutable {
            runReceiveLoop(fd, sink);
            finished.set_value();
        });
    }
    ~LoopThread() {
        if (!thread_.joinable()) return;
        if (ended()) {
            thread_.join();
        } else {
            ADD_FAILURE() << "the receive loop did not end";
            thread_.detach();
        }
    }
    bool ended() { return done_.wait_for(kPatience) == std::future_status::ready; }
    pthread_t handle() { return thread_.native_handle(); }

  private:
    std::future<void> done_;
    std::thread thread_;
};

class ReceiveLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "raw ICMP sockets need root";
        char pattern[] = "/tmp/ping-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        logPath_ = dir_ + "/pinger.log";
        savedLogFile_ = pingLogFile;
        pingLogFile = logPath_.c_str();
    }
    void TearDown() override {
        if (dir_.empty()) return;
        pingLogFile = savedLogFile_;
        trace = 0;
        std::system(("rm -rf " + dir_).c_str());
    }

    std::string dir_;
    std::string logPath_;
    const char* savedLogFile_ = nullptr;
};

TEST_F(ReceiveLoopTest, ShutdownEndsTheLoopEveryTimeAndTheLoopClosesTheSocket) {
    for (int round = 1; round <= 40; ++round) {
        const PingSocket opened;
        const int fd = opened.get();
        ASSERT_GE(fd, 0);
        RecordingSink sink;
        {
            LoopThread loop(fd, &sink);
            if (round % 2 == 0) {
                // Shut down a loop known to be running; odd rounds race with its start.
                ASSERT_EQ(send_ping(fd, kLoopback, static_cast<uint16_t>(round), 64), 0);
                ASSERT_TRUE(sink.awaitOwn(static_cast<uint16_t>(round)));
            }
            icmp_shutdown(fd);
            ASSERT_TRUE(loop.ended()) << "round " << round;
        }
        EXPECT_FALSE(isOpen(fd)) << "round " << round;
    }
}

// Holds the loop in its first callback until released.
class GateSink final : public ReplySink {
  public:
    bool onReply(const PingReply&) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (++calls_ == 1) {
            entered_ = true;
            changed_.notify_all();
            changed_.wait(lock, [&] { return released_; });
        }
        return true;
    }
    bool awaitEntered() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return entered_; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    int calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false, released_ = false;
    int calls_ = 0;
};

TEST_F(ReceiveLoopTest, ShutdownEndsALoopWithABacklogAfterTheCurrentCallback) {
    const PingSocket opened;
    const int fd = opened.get();
    ASSERT_GE(fd, 0);
    int big = 8 << 20;
    ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big), 0);
    for (uint16_t id = 1; id <= 300; ++id) ASSERT_EQ(send_ping(fd, kLoopback, id, 64), 0);
    GateSink sink;
    {
        LoopThread loop(fd, &sink);
        ASSERT_TRUE(sink.awaitEntered());
        icmp_shutdown(fd);
        sink.release();
        EXPECT_TRUE(loop.ended());
    }
    EXPECT_EQ(sink.calls(), 1);  // the backlog of replies is not worked through
    EXPECT_FALSE(isOpen(fd));
}

TEST_F(ReceiveLoopTest, SignalsDoNotEndTheLoop) {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: the wait fails with EINTR
    struct sigaction saved {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &saved), 0);

    const PingSocket opened;
    const int fd = opened.get();
    ASSERT_GE(fd, 0);
    RecordingSink sink;
    LoopThread loop(fd, &sink);
    ASSERT_EQ(send_ping(fd, kLoopback, 1, 64), 0);
    ASSERT_TRUE(sink.awaitOwn(1));
    for (int i = 0; i < 20; ++i) {
        ::pthread_kill(loop.handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(send_ping(fd, kLoopback, 2, 64), 0);
    EXPECT_TRUE(sink.awaitOwn(2));
    icmp_shutdown(fd);
    EXPECT_TRUE(loop.ended());
    ::sigaction(SIGUSR1, &saved, nullptr);
}

// Descriptors the service doesn't hold: never opened here, shut down, or a shut-down number that
// another open has taken over. A send fails with EBADF and writes nothing, a loop returns at once
// with its error as the log's only line and reads nothing, and a shutdown leaves them open.
TEST_F(ReceiveLoopTest, DescriptorsItDoesNotHoldAreNeitherUsedNorClosed) {
    const PingSocket opened;
    const int fd = opened.get();
    ASSERT_GE(fd, 0);
    icmp_shutdown(fd);
    EXPECT_FALSE(isOpen(fd));
    int pairFds[2];  // most likely fd's number among them
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pairFds), 0);
    const orvela::ScopedFd pair[2] = {orvela::ScopedFd(pairFds[0]), orvela::ScopedFd(pairFds[1])};
    ASSERT_EQ(::write(pair[1].get(), "x", 1), 1);
    writeFile(logPath_, "older line 1\nolder line 2\nolder line 3\nolder line 4\n");

    for (int notHeld : {-1, -7, fd, pair[0].get(), pair[1].get()}) {
        SCOPED_TRACE(notHeld);
        errno = 0;
        EXPECT_EQ(send_ping(notHeld, kLoopback, 3, 64), -1);
        EXPECT_EQ(errno, EBADF);
        EXPECT_EQ(orvela::icmp::sendPing6(notHeld, in6addr_loopback, 3), -1);
        RecordingSink sink;
        runReceiveLoop(notHeld, &sink);  // returns at once
        EXPECT_EQ(readFile(logPath_),
                  "Error receiving pings on icmpsd #" + std::to_string(notHeld) + " (errno = 9)\n");
        icmp_shutdown(notHeld);
    }
    char byte;
    EXPECT_EQ(::recv(pair[0].get(), &byte, 1, MSG_DONTWAIT), 1);   // nothing read, still open
    EXPECT_EQ(::recv(pair[1].get(), &byte, 1, MSG_DONTWAIT), -1);  // nothing written
    EXPECT_TRUE(isOpen(pair[1].get()));
}

TEST_F(ReceiveLoopTest, TheLogIsNotWrittenThroughLinksOrIntoSpecialFiles) {
    std::string target = dir_ + "/precious";
    writeFile(target, "keep\n");

    ASSERT_EQ(::symlink(target.c_str(), logPath_.c_str()), 0);
    runReceiveLoop(-7, nullptr);
    EXPECT_EQ(readFile(target), "keep\n");
    struct stat st;
    ASSERT_EQ(::lstat(logPath_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ::unlink(logPath_.c_str());

    ASSERT_EQ(::link(target.c_str(), logPath_.c_str()), 0);
    runReceiveLoop(-7, nullptr);
    EXPECT_EQ(readFile(target), "keep\n");
    ::unlink(logPath_.c_str());

    ASSERT_EQ(::mkfifo(logPath_.c_str(), 0600), 0);
    runReceiveLoop(-7, nullptr);  // returns without waiting for a reader
    ::unlink(logPath_.c_str());

    runReceiveLoop(-7, nullptr);
    EXPECT_EQ(readFile(logPath_), "Error receiving pings on icmpsd #-7 (errno = 9)\n");
}

TEST_F(ReceiveLoopTest, TracePrintsTheDiagnosticLines) {
    const PingSocket opened;
    const int fd = opened.get();
    ASSERT_GE(fd, 0);
    trace = 1;
    orvela::test::CapturedOutput captured(stdout);
    RecordingSink sink;
    {
        LoopThread loop(fd, &sink);
        EXPECT_EQ(send_ping(fd, kLoopback, 7, 64), 0);
        EXPECT_TRUE(sink.awaitOwn(7));
        icmp_shutdown(fd);
        EXPECT_TRUE(loop.ended());
    }
    EXPECT_EQ(send_ping(fd, kLoopback, 8, 64), -1);
    EXPECT_EQ(TestReceivePings(reinterpret_cast<void*>(static_cast<intptr_t>(fd))), 0);
    {
        const PingSocket ipv6(true);
        ASSERT_GE(ipv6.get(), 0);
        LoopThread loop(ipv6.get(), &sink);
        EXPECT_EQ(orvela::icmp::sendPing6(ipv6.get(), in6addr_loopback, 9), 0);
        EXPECT_TRUE(sink.awaitOwn(9));
        icmp_shutdown(ipv6.get());
        EXPECT_TRUE(loop.ended());
    }
    std::string out = captured.take();
    trace = 0;

    std::string sd = std::to_string(fd);
    for (const std::string& line : std::vector<std::string>{
             "getting ready to start reading...\n",
             "wait on icmp sd " + sd + "..\n",
             "Sent ping to 127.0.0.1 (reqid = 7)\n",
             "Ready to read data, rc = 1 errno = ",
             "read data in, and rc = 84\n",
             "ICMP Socket was closed, terminating\n",
             "Error sending ping (errno = 9)\n",
             "starting receive_ping...\n",
             "Error receiving pings on icmpsd #" + sd + " (errno = 9)\n",
             "receive_ping returned...\n",
             "Sent ping to ::1 (reqid = 9)\n",
             "read data in, and rc = 64\n",
         }) {
        EXPECT_NE(out.find(line), std::string::npos) << line << "\nin:\n" << out;
    }
    EXPECT_TRUE(std::regex_search(
        out, std::regex("Ping received from 127\\.0\\.0\\.1, type = 0 reqID = 7, curTime = "
                        "[0-9]+ms, reqTime = [0-9]+ms, RTTime = [0-9]+ms\n")))
        << out;
    EXPECT_TRUE(std::regex_search(
        out, std::regex("Ping received from ::1, type = 129 reqID = 9, curTime = [0-9]+ms, "
                        "reqTime = [0-9]+ms, RTTime = [0-9]+ms\n")))
        << out;
}

}  // namespace
