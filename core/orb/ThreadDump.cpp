// The thread dump on standard error or redirected into a file, for every class that exports
// dump0 and dump1.
#include "core/orb/ThreadDump.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>

#include "binding/ScopedFd.h"
#include "binding/ScopedUtfChars.h"
#include "binding/ThrowByName.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace orvela {
namespace {

// The platform facts: the signal on which the VM prints its threads, how it is sent, how long
// the file takes the place of standard error, and the runtime's descriptor calls.
#if defined(_WIN32)

// SIGBREAK of the Microsoft runtime, the console break.
constexpr int DumpSignal = 21;

// The runtime has no way to read a handler without replacing it: setting SIG_DFL hands back the
// one in force, which goes back at once. A console break that arrives in the few instructions
// between the two calls meets the default action and ends the process; there is no query
// without that window.
bool dumpSignalHandled() {
    void (*previous)(int) = std::signal(DumpSignal, SIG_DFL);
    if (previous == SIG_ERR) return false;
    std::signal(DumpSignal, previous);
    return previous != SIG_DFL && previous != SIG_IGN;
}

// The runtime runs the handler in this thread before raise returns.
void sendDumpSignal() {
    std::raise(DumpSignal);
}

void waitForDump() {
    Sleep(10000);
}

int duplicate(int fd) {
    return _dup(fd);
}
int duplicateOnto(int fd, int target) {
    return _dup2(fd, target);
}
int descriptorOf(FILE* file) {
    return _fileno(file);
}

#else

constexpr int DumpSignal = SIGQUIT;

bool dumpSignalHandled() {
    struct sigaction current {};
    if (sigaction(DumpSignal, nullptr, &current) != 0) return false;
    if ((current.sa_flags & SA_SIGINFO) != 0) return current.sa_sigaction != nullptr;
    return current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN;
}

// The VM keeps the signal blocked in all its threads but the one that handles it, so it is sent
// to the process: raised in the calling thread it would stay pending there for good.
void sendDumpSignal() {
    kill(getpid(), DumpSignal);
}

// The full ten seconds, also when another signal cuts the sleep short.
void waitForDump() {
    timespec left{10, 0};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

int duplicate(int fd) {
    return dup(fd);
}
int duplicateOnto(int fd, int target) {
    return dup2(fd, target);
}
int descriptorOf(FILE* file) {
    return fileno(file);
}

#endif

constexpr int StderrDescriptor = 2;

// Descriptor 2 belongs to the whole process. Overlapping redirections would save each other's
// file as the standard error to restore, and it would stay on a dump file for good; so they
// take turns.
std::mutex redirection;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using ScopedFile = std::unique_ptr<FILE, FileCloser>;

}  // namespace

void dumpThreads() {
    if (!dumpSignalHandled()) return;
    sendDumpSignal();
}

void dumpThreadsToFile(JNIEnv* env, jstring jFilename) {
    if (jFilename == nullptr) {
        JNU_ThrowByName(env, "java/lang/NullPointerException", "filename");
        return;
    }
    ScopedUtfChars name(env, jFilename);
    if (!name) return;
    if (!dumpSignalHandled()) {
        throwIOException(env, "No handler for the thread dump signal (VM started with -Xrs?)");
        return;
    }

    std::lock_guard<std::mutex> turn(redirection);
    ScopedFd oldErr(duplicate(StderrDescriptor));
    if (!oldErr) {
        throwIOException(env, "DUP failed");
        return;
    }
    ScopedFile newErr(std::fopen(name.c_str(), "w"));
    if (!newErr) {
        throwIOException(env, "Could not open file");
        return;
    }
    // What the runtime's stream still holds was written before the call and stays out of the file.
    std::fflush(stderr);
    if (duplicateOnto(descriptorOf(newErr.get()), StderrDescriptor) == -1) {
        throwIOException(env, "dup2 failed");
        return;
    }

    // The fixed wait is the only synchronisation with the VM: it has no way to say it is done.
    sendDumpSignal();
    waitForDump();

    std::fflush(stderr);
    // A failure here has nowhere to be reported: descriptor 2 stays on the file.
    duplicateOnto(oldErr.get(), StderrDescriptor);
}

}  // namespace orvela
