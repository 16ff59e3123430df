// The text helpers. Name look-ups run in a child process with its own network, host name and
// hosts file, so that they see a known naming world and never reach a real name server.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "binding/ScopedFd.h"
#include "core/icmp/ProbeText.h"
#include "tests/support/cpp/CapturedOutput.h"

namespace {

// Runs `probe` in a child with a network of its own (no name server reachable), host name
// `hostname` and /etc/hosts holding `hosts`; returns what it returned, or "SKIP" when the
// machine can't give a child those namespaces.
std::string isolated(const std::string& hostname, const std::string& hosts,
                     const std::function<std::string()>& probe) {
    int pipefd[2];
    if (pipe(pipefd) != 0) return "SKIP";
    const orvela::ScopedFd readEnd(pipefd[0]);
    orvela::ScopedFd writeEnd(pipefd[1]);
    fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        close(pipefd[0]);
        std::string result = "SKIP";
        char path[] = "/tmp/orvtr-hosts-XXXXXX";
        const int fd = mkstemp(path);
        if (fd >= 0 &&
            write(fd, hosts.data(), hosts.size()) == static_cast<ssize_t>(hosts.size()) &&
            unshare(CLONE_NEWNET | CLONE_NEWUTS | CLONE_NEWNS) == 0 &&
            mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            mount(path, "/etc/hosts", nullptr, MS_BIND, nullptr) == 0 &&
            sethostname(hostname.data(), hostname.size()) == 0) {
            result = probe();
        }
        if (fd >= 0) unlink(path);
        if (write(pipefd[1], result.data(), result.size()) < 0) _exit(1);
        _exit(0);
    }
    ::close(writeEnd.release());  // the read below ends with the child's end
    std::string result;
    char chunk[256];
    ssize_t n;
    while ((n = read(readEnd.get(), chunk, sizeof chunk)) > 0)
        result.append(chunk, static_cast<size_t>(n));
    int status = 0;
    waitpid(child, &status, 0);
    return result;
}

in_addr address(const char* dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a;
}

const char* const kHosts =
    "127.0.0.1 localhost\n"
    "198.18.0.1 gw.lab.example\n"
    "198.18.0.2 r2.sub.lab.example\n"
    "198.18.0.3 r3.other.example\n"
    "198.18.0.4 r4\n"
    "198.18.0.5 a-very-long-router-name-that-fills-more-than-the-line.lab.example\n"
    "2001:db8::1 gw6.lab.example\n"
    "2001:db8::2 r6.sub.lab.example\n"
    "2001:db8::5 a-very-long-router-name-that-fills-more-than-the-line.lab.example\n";

in6_addr address6(const char* text) {
    in6_addr a{};
    inet_pton(AF_INET6, text, &a);
    return a;
}

#define SKIP_WHEN_ISOLATION_FAILS(result) \
    if ((result) == "SKIP") GTEST_SKIP() << "no namespaces for an isolated name look-up"

TEST(PrTypeTest, NamesEveryIcmpType) {
    EXPECT_STREQ(pr_type(0), "Echo Reply");
    EXPECT_STREQ(pr_type(3), "Dest Unreachable");
    EXPECT_STREQ(pr_type(11), "Time Exceeded");
    EXPECT_STREQ(pr_type(16), "Info Reply");
    EXPECT_STREQ(pr_type(17), "OUT-OF-RANGE");
    EXPECT_STREQ(pr_type(255), "OUT-OF-RANGE");
}

// On a host in the domain lab.example, on one without a domain, and on one elsewhere.
TEST(InetnameTest, StripsOnlyTheLocalDomainAndCutsToTheLine) {
    const struct {
        const char* hostname;
        std::vector<const char*> addresses;
        const char* names;
    } rows[] = {
        {"probe.lab.example",
         {"0.0.0.0", "198.18.0.1", "198.18.0.2", "198.18.0.3", "198.18.0.4", "198.18.7.9",
          "::", "2001:db8::1", "2001:db8::2", "2001:db8::7", "2001:db8::5"},
         "0.0.0.0|gw|r2.sub.lab.example|r3.other.example|r4|198.18.7.9|"
         "::|gw6|r6.sub.lab.example|2001:db8::7|"
         "a-very-long-router-name-that-fills-more-than-the-|"},  // cut to 49
        {"probe", {"198.18.0.1"}, "gw.lab.example|"},
        {"probe.elsewhere", {"198.18.0.5"}, "a-very-long-router-name-that-fills-more-than-the-|"},
    };
    for (const auto& row : rows) {
        const std::string got = isolated(row.hostname, kHosts, [&row] {
            std::string all;
            for (const char* a : row.addresses) {
                all += std::strchr(a, ':') != nullptr ? orvela::icmp::inetname6(address6(a))
                                                      : inetname(address(a));
                all += '|';
            }
            return all;
        });
        SKIP_WHEN_ISOLATION_FAILS(got);
        EXPECT_EQ(got, row.names) << row.hostname;
    }
}

TEST(PrintTest, SummarisesTheReply) {
    const std::string got = isolated("probe.lab.example", kHosts, [] {
        unsigned char datagram[56] = {0x45};
        const unsigned char to[] = {198, 18, 0, 9};
        std::memcpy(datagram + 16, to, 4);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr = address("198.18.0.1");
        orvela::test::CapturedOutput captured(stdout);
        print(datagram, sizeof datagram, &from);
        // Too short to hold the header: nothing is read past the bytes received.
        unsigned char* stub = new unsigned char[4]{0x45, 0, 0, 0};
        print(stub, 4, &from);
        delete[] stub;
        sockaddr_in6 from6{};
        from6.sin6_family = AF_INET6;
        from6.sin6_addr = address6("2001:db8::1");
        const in6_addr to6 = address6("2001:db8::9");
        orvela::icmp::print6(&from6, 56, &to6);
        orvela::icmp::print6(&from6, 8, nullptr);  // not known where the answer was sent
        return captured.take();
    });
    SKIP_WHEN_ISOLATION_FAILS(got);
    EXPECT_EQ(got,
              " gw (198.18.0.1) 36 bytes to 198.18.0.9 gw (198.18.0.1) -16 bytes to 0.0.0.0"
              " gw6 (2001:db8::1) 56 bytes to 2001:db8::9 gw6 (2001:db8::1) 8 bytes to ::");
}

}  // namespace
