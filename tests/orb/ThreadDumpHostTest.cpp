// The thread-dump natives loaded into the JNI test host, where a signal handler of the test
// stands in for the VM's: it writes a dump-like text to standard error, as the VM does. Runs on
// Linux (with the sanitizers too) and, under Wine, against the Windows builds. The build names
// the library, the class, whether the failure paths run, and whether signals can be trusted with
// a second thread (DUMP_LIBRARY, DUMP_CLASS, DUMP_ALL_CASES, SIGNALS_SWAP_THREADS).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/jnihost/JniHost.h"
#include "tests/support/cpp/OpenDescriptors.h"

// MinGW's unistd.h declares the runtime's descriptor calls by their POSIX names.
#include <unistd.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace orvela::jnihost {
namespace {

namespace fs = std::filesystem;
using orvela::test::openDescriptors;

// The platform's side of the test: the dump signal, and the descriptor limit.
#if defined(_WIN32)
constexpr int kDumpSignal = 21;
// The host has no VM: with no handler the signal has no route either.
const char* const kNoDump =
    "No thread dump: the runtime has no handler for the break signal, and the process has no "
    "jvm.dll, the VM that has the attach mechanism";
// The runtime's table is of fixed size; nothing to lower.
struct DescriptorLimit {};
#else
constexpr int kDumpSignal = SIGQUIT;
const char* const kNoDump = "No thread dump: the VM has no handler for SIGQUIT";
// A small descriptor limit for the scope, so that running out of descriptors is quick.
class DescriptorLimit {
  public:
    DescriptorLimit() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = 256;
        setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~DescriptorLimit() { setrlimit(RLIMIT_NOFILE, &saved_); }

  private:
    rlimit saved_{};
};
#endif

const char* const kStandInDump =
    "Full thread dump (stand-in for the VM)\n\n\"orvela-dump-witness\" waiting\n";
std::atomic<int> dumpsRequested{0};

// What the VM does on the signal: writes its dump to descriptor 2. The Microsoft runtime puts
// the default action back before it calls a handler, so the handler installs itself again.
extern "C" void standInVm(int sig) {
    std::signal(sig, standInVm);
    ++dumpsRequested;
    write(2, kStandInDump, std::char_traits<char>::length(kStandInDump));
}

// The file's text, read in text mode: on Windows descriptor 2 is in text mode as well and
// writes "\r\n" for "\n".
std::string contentOf(const fs::path& file) {
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Takes every free descriptor, then gives `free` of them back; the rest close with the scope.
class DescriptorsTaken {
  public:
    explicit DescriptorsTaken(int free) {
        for (int fd; (fd = dup(2)) != -1;) taken_.push_back(fd);
        for (int i = 0; i < free && !taken_.empty(); ++i) {
            close(taken_.back());
            taken_.pop_back();
        }
    }
    ~DescriptorsTaken() {
        for (int fd : taken_) close(fd);
    }

  private:
    DescriptorLimit limit_;
    std::vector<int> taken_;
};

using Dump0Fn = void(JNICALL*)(JNIEnv*, jclass);
using Dump1Fn = void(JNICALL*)(JNIEnv*, jclass, jstring);

class ThreadDumpHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        lib = std::make_unique<Library>(host, DUMP_LIBRARY);
        dumper = host.defineClass(DUMP_CLASS).ref();
        host.defineClass("java/lang/NullPointerException");
        // The object whose monitor gives overlapping dump1 calls their turns.
        host.defineClass("java/lang/Thread$State");
        dump0 = lib->native<Dump0Fn>(DUMP_CLASS, "dump0", "()V");
        dump1 = lib->native<Dump1Fn>(DUMP_CLASS, "dump1", "(Ljava/lang/String;)V");
        std::signal(kDumpSignal, standInVm);
        dir = fs::temp_directory_path() /
              ("orvela-dump-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::signal(kDumpSignal, SIG_DFL);
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // Calls dump1 and expects `exception` with `message`, no signal and no descriptor left.
    void expectFailure(jstring path, const char* exception,
                       const std::optional<std::string>& message) {
        size_t descriptors = openDescriptors();
        int dumps = dumpsRequested;
        size_t refs = host.liveLocalRefs();
        dump1(host.env(), dumper, path);
        auto thrown = host.takePending();
        ASSERT_TRUE(thrown) << "no exception";
        EXPECT_EQ(thrown->className, exception);
        EXPECT_EQ(thrown->message, message);
        EXPECT_EQ(dumpsRequested, dumps);
        EXPECT_EQ(openDescriptors(), descriptors);
        EXPECT_EQ(host.liveLocalRefs(), refs);
        EXPECT_EQ(host.utfCharsHeld(), 0u);
        EXPECT_EQ(host.monitorsHeld(), 0u);
        EXPECT_EQ(host.violations(), std::vector<std::string>{});
    }

    Host host;
    std::unique_ptr<Library> lib;
    jclass dumper = nullptr;
    Dump0Fn dump0 = nullptr;
    Dump1Fn dump1 = nullptr;
    fs::path dir;
};

// The failure paths, run for Stackprint only: every other copy compiles the same bodies.
class ThreadDumpFailureTest : public ThreadDumpHostTest {
  protected:
    void SetUp() override {
        if (!DUMP_ALL_CASES) GTEST_SKIP() << "the same code is tested through Stackprint";
        ThreadDumpHostTest::SetUp();
    }
};

TEST_F(ThreadDumpHostTest, Dump0AsksForTheDumpOnStandardError) {
    int dumps = dumpsRequested;
    dump0(host.env(), dumper);
    EXPECT_EQ(dumpsRequested, dumps + 1);
    EXPECT_FALSE(host.pending());
}

// One redirected dump (ten seconds) into a file that exists: it is truncated, and holds the
// dump and what another thread wrote to standard error meanwhile, but nothing written after.
TEST_F(ThreadDumpHostTest, Dump1CapturesStandardErrorOfTheWindowInATruncatedFile) {
    if (SIGNALS_SWAP_THREADS) {
        GTEST_SKIP()
            << "qemu-i386 gives the thread the signal interrupts another thread's identity";
    }
    fs::path file = dir / "dump.txt";
    std::ofstream(file) << std::string(100000, 'o') << "OLD CONTENT";
    const std::string during = "written to stderr while the file stands in\n";
    const std::string after = "written to stderr after dump1 returned\n";
    size_t descriptors = openDescriptors();
    int dumps = dumpsRequested;
    // The writer waits for the signal, which comes once the file stands in, and opens nothing:
    // a descriptor of its own would show in the counts.
    std::thread writer([&] {
        while (dumpsRequested == dumps) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        write(2, during.data(), during.size());
    });

    dump1(host.env(), dumper, host.newString(file.string()));
    writer.join();
    write(2, after.data(), after.size());

    EXPECT_FALSE(host.pending());
    EXPECT_EQ(dumpsRequested, dumps + 1);
    EXPECT_EQ(openDescriptors(), descriptors);
    std::string text = contentOf(file);
    EXPECT_TRUE(contains(text, kStandInDump)) << text;
    EXPECT_TRUE(contains(text, during)) << text;
    EXPECT_FALSE(contains(text, after)) << text;
    EXPECT_FALSE(contains(text, "OLD CONTENT"));
    EXPECT_EQ(host.utfCharsHeld(), 0u);
}

TEST_F(ThreadDumpFailureTest, Dump1FailuresThrowBeforeAnySignal) {
    fs::path missing = dir / "no-such-dir" / "dump.txt";
    expectFailure(host.newString(missing.string()), "java/io/IOException", "Could not open file");
    EXPECT_FALSE(fs::exists(missing.parent_path()));

    expectFailure(nullptr, "java/lang/NullPointerException", "filename");

    host.inject(Fault::GetStringUTFChars);
    expectFailure(host.newString((dir / "unread.txt").string()), "java/lang/OutOfMemoryError",
                  std::nullopt);
    EXPECT_FALSE(fs::exists(dir / "unread.txt"));

    host.inject(Fault::MonitorEnter);
    expectFailure(host.newString((dir / "no-turn.txt").string()), "java/io/IOException",
                  "Could not wait for the thread dump under way");
    EXPECT_FALSE(fs::exists(dir / "no-turn.txt"));

#if !defined(_WIN32)
    // A symbolic link at the name is not followed: the file it points at keeps its content.
    fs::path target = dir / "target.txt";
    std::ofstream(target) << "KEEP";
    fs::create_symlink(target, dir / "link.txt");
    expectFailure(host.newString((dir / "link.txt").string()), "java/io/IOException",
                  "Could not open file");
    EXPECT_EQ(contentOf(target), "KEEP");
#endif
}

TEST_F(ThreadDumpFailureTest, Dump1WithoutDescriptorsToSpareThrows) {
    jstring noneFree = host.newString((dir / "none-free.txt").string());
    jstring oneFree = host.newString((dir / "one-free.txt").string());
    {
        DescriptorsTaken all(0);
        expectFailure(noneFree, "java/io/IOException", "DUP failed");
    }
    {
        // The copy of standard error takes the last one, the file finds none.
        DescriptorsTaken allButOne(1);
        expectFailure(oneFree, "java/io/IOException", "Could not open file");
    }
    EXPECT_FALSE(fs::exists(dir / "none-free.txt"));
}

// A VM started with -Xrs has no handler: raising the signal then would end the process.
TEST_F(ThreadDumpFailureTest, WithoutAHandlerDump0DoesNothingAndDump1Throws) {
    for (auto disposition : {SIG_DFL, SIG_IGN}) {
        std::signal(kDumpSignal, disposition);
        dump0(host.env(), dumper);
        EXPECT_FALSE(host.pending());
        fs::path file = dir / "dump.txt";
        expectFailure(host.newString(file.string()), "java/io/IOException", kNoDump);
        EXPECT_FALSE(fs::exists(file));
    }
    // The check leaves the handler as it found it.
    std::signal(kDumpSignal, standInVm);
    dump0(host.env(), dumper);
    EXPECT_EQ(std::signal(kDumpSignal, standInVm), standInVm);
}

}  // namespace
}  // namespace orvela::jnihost
