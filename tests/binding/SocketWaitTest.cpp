#include "binding/SocketWait.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "binding/Deadline.h"
#include "binding/ScopedFd.h"

namespace {

using orvela::Deadline;
using orvela::SocketWait;
using orvela::waitForSocket;

struct Pair {
    orvela::ScopedFd a, b;
    Pair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
            a.reset(fds[0]);
            b.reset(fds[1]);
        }
    }
};

// What one wait gives for each state the socket and the wake descriptor can be in.
TEST(SocketWaitTest, ReportsEachStateOfTheSocketAndItsWakeDescriptor) {
    Pair socket, wake;
    ASSERT_TRUE(socket.a && wake.a);
    const Deadline soon = Deadline::inMillis(20);

    EXPECT_EQ(waitForSocket(socket.a.get(), POLLIN, wake.a.get(), soon).result,
              SocketWait::TimedOut);
    ASSERT_EQ(::write(socket.b.get(), "x", 1), 1);
    SocketWait ready = waitForSocket(socket.a.get(), POLLIN, -1, Deadline::none());
    EXPECT_EQ(ready.result, SocketWait::Ready);
    EXPECT_EQ(ready.polled, 1);
    EXPECT_TRUE(ready.revents & POLLIN);

    ASSERT_EQ(::write(wake.b.get(), "x", 1), 1);
    EXPECT_EQ(waitForSocket(socket.a.get(), POLLIN, wake.a.get(), soon).result, SocketWait::Closed);

    const int gone = socket.b.release();
    ::close(gone);
    SocketWait stale = waitForSocket(gone, POLLIN, -1, soon);
    EXPECT_EQ(stale.result, SocketWait::Failed);
    EXPECT_EQ(stale.error, EBADF);
}

TEST(SocketWaitTest, DeadlinesRoundUpAndNeverWrap) {
    EXPECT_EQ(Deadline::none().millisLeft(), -1);
    EXPECT_FALSE(Deadline::none().passed());
    EXPECT_GE(Deadline::in(std::chrono::microseconds(1500)).millisLeft(), 1);
    EXPECT_EQ(Deadline::inMillis(-5).millisLeft(), 0);
    EXPECT_TRUE(Deadline::inMillis(0).passed());
    EXPECT_GT(Deadline::in(Deadline::Clock::duration::max()).millisLeft(), 0);
    const Deadline early = Deadline::inMillis(10);
    EXPECT_EQ(Deadline::inMillis(1000).orEarlier(early).when(), early.when());
    EXPECT_EQ(Deadline::none().orEarlier(early).when(), early.when());
}

}  // namespace
