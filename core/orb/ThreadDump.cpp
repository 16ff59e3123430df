// The thread dump on standard error or redirected into a file, for every class that exports
// dump0 and dump1.
#include "core/orb/ThreadDump.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "binding/ScopedFd.h"
#include "binding/ScopedLocalRef.h"
#include "binding/ScopedMonitor.h"
#include "binding/ScopedUtfChars.h"
#include "binding/ThrowByName.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

#include "core/orb/VmAttachOperation.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace orvela {
namespace {

// How one call gets its dump: the VM writes it on the dump signal, or this side holds its text
// and writes it; or there is none, and `text` says why.
struct DumpRoute {
    enum Kind { Signal, Text, None };
    Kind kind;
    std::string text;
};

// The standard streams' descriptors, the same in both runtimes.
constexpr int kStdoutDescriptor = 1;
constexpr int kStderrDescriptor = 2;

// How long the file takes the place of standard error.
constexpr int kDumpWindowSeconds = 10;

// The platform facts: the signal on which the VM prints its threads, how it is sent, the other
// way to a dump, how long the file takes the place of standard error, and the runtime's
// descriptor calls.
#if defined(_WIN32)

// SIGBREAK of the Microsoft runtime, the console break.
constexpr int kDumpSignal = 21;

// The runtime has no way to read a handler without replacing it: setting SIG_DFL hands back the
// one in force, which goes back at once. A console break that arrives in the few instructions
// between the two calls meets the default action and ends the process; there is no query
// without that window.
bool dumpSignalHandled() {
    void (*previous)(int) = std::signal(kDumpSignal, SIG_DFL);
    if (previous == SIG_ERR) return false;
    std::signal(kDumpSignal, previous);
    return previous != SIG_DFL && previous != SIG_IGN;
}

// The runtime runs the handler in this thread before raise returns.
void sendDumpSignal() {
    std::raise(kDumpSignal);
}

// How long the VM may take to hand over its dump, and to say where it prints.
constexpr DWORD kDumpAnswerMillis = 10000;
constexpr DWORD kFlagAnswerMillis = 2000;

// A current VM keeps its break handler out of the runtime's table (its console handler calls
// it), so the signal finds none. The VM then gives its dump through the attach mechanism its
// diagnostic tools use: the same "Full thread dump" text, handed to us instead of printed.
DumpRoute findDumpRoute() {
    if (dumpSignalHandled()) return {DumpRoute::Signal, {}};
    AttachAnswer dump = runVmAttachOperation("threaddump", "", kDumpAnswerMillis);
    if (!dump.ran) {
        return {
            DumpRoute::None,
            "No thread dump: the runtime has no handler for the break signal, and " + dump.text};
    }
    return {DumpRoute::Text, std::move(dump.text)};
}

// Where the VM prints what it prints on the break signal: standard output, or standard error
// when it runs with -XX:+DisplayVMOutputToStderr. The flag is fixed at the VM's start, so the
// answer is kept (calls racing to the first answer each ask).
int vmOutputDescriptor() {
    static std::atomic<int> known{0};
    int descriptor = known.load();
    if (descriptor == 0) {
        AttachAnswer flag =
            runVmAttachOperation("printflag", "DisplayVMOutputToStderr", kFlagAnswerMillis);
        descriptor = flag.ran && flag.text.find("+DisplayVMOutputToStderr") != std::string::npos
                         ? kStderrDescriptor
                         : kStdoutDescriptor;
        known.store(descriptor);
    }
    return descriptor;
}

void waitForDump() {
    Sleep(kDumpWindowSeconds * 1000);
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
int writeSome(int fd, const char* text, size_t size) {
    return _write(fd, text, static_cast<unsigned>(size < 65536 ? size : 65536));
}

// Opened as the file has always been opened here.
FILE* openDumpFile(const char* name) {
    return std::fopen(name, "w");
}

#else

constexpr int kDumpSignal = SIGQUIT;

bool dumpSignalHandled() {
    struct sigaction current {};
    if (sigaction(kDumpSignal, nullptr, &current) != 0) return false;
    if ((current.sa_flags & SA_SIGINFO) != 0) return current.sa_sigaction != nullptr;
    return current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN;
}

// The VM keeps the signal blocked in all its threads but the one that handles it, so it is sent
// to the process: raised in the calling thread it would stay pending there for good.
void sendDumpSignal() {
    kill(getpid(), kDumpSignal);
}

// The signal is the VM's only way to a dump here; a VM without a handler (-Xrs) has none.
DumpRoute findDumpRoute() {
    if (dumpSignalHandled()) return {DumpRoute::Signal, {}};
    return {DumpRoute::None, "No thread dump: the VM has no handler for SIGQUIT"};
}

// Only the Windows route has text of its own to write; HotSpot prints on standard output.
int vmOutputDescriptor() {
    return kStdoutDescriptor;
}

// The full ten seconds, also when another signal cuts the sleep short.
void waitForDump() {
    timespec left{kDumpWindowSeconds, 0};
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
int writeSome(int fd, const char* text, size_t size) {
    ssize_t written;
    while ((written = write(fd, text, size)) == -1 && errno == EINTR) {
    }
    return static_cast<int>(written);
}

// Created or truncated, as fopen "w" does, but never through a symbolic link: a VM running as
// root must not be made to truncate the file a planted link points at.
FILE* openDumpFile(const char* name) {
    ScopedFd fd(::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd) return nullptr;
    FILE* file = fdopen(fd.get(), "w");
    if (file != nullptr) fd.release();
    return file;
}

#endif

// Descriptor 2 belongs to the whole process, and every library that carries these natives has
// its own copy of this code. Overlapping redirections would save each other's file as the
// standard error to restore, and it would stay on a dump file for good; so they take turns,
// kept by the monitor of one class object that the whole VM shares.
constexpr const char* kTurnClass = "java/lang/Thread$State";

// Output that can't be written is dropped, as the VM's own is.
void writeAll(int fd, const std::string& text) {
    const char* next = text.data();
    size_t left = text.size();
    while (left > 0) {
        int written = writeSome(fd, next, left);
        if (written <= 0) return;
        next += written;
        left -= static_cast<size_t>(written);
    }
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using ScopedFile = std::unique_ptr<FILE, FileCloser>;

}  // namespace

void dumpThreads() {
    DumpRoute route = findDumpRoute();
    if (route.kind == DumpRoute::Signal) sendDumpSignal();
    if (route.kind == DumpRoute::Text) writeAll(vmOutputDescriptor(), route.text);
}

void dumpThreadsToFile(JNIEnv* env, jstring jFilename) {
    ScopedUtfChars name(env, jFilename, "filename");
    if (!name) return;
    ScopedLocalRef<jclass> turnObject(env, env->FindClass(kTurnClass));
    if (!turnObject) return;
    ScopedMonitor turn(env, turnObject.get());
    if (!turn.entered()) {
        throwIOException(env, "Could not wait for the thread dump under way");
        return;
    }
    DumpRoute route = findDumpRoute();
    if (route.kind == DumpRoute::None) {
        throwIOException(env, route.text.c_str());
        return;
    }

    ScopedFd oldErr(duplicate(kStderrDescriptor));
    if (!oldErr) {
        throwIOException(env, "DUP failed");
        return;
    }
    ScopedFile newErr(openDumpFile(name.c_str()));
    if (!newErr) {
        throwIOException(env, "Could not open file");
        return;
    }
    // What the runtime's stream still holds was written before the call and stays out of the file.
    std::fflush(stderr);
    if (duplicateOnto(descriptorOf(newErr.get()), kStderrDescriptor) == -1) {
        throwIOException(env, "dup2 failed");
        return;
    }

    // The fixed wait is the only synchronisation with the VM on the signal: it has no way to
    // say it is done. A dump in hand goes into the file at once, and the window stays the same.
    if (route.kind == DumpRoute::Signal) sendDumpSignal();
    if (route.kind == DumpRoute::Text) writeAll(kStderrDescriptor, route.text);
    waitForDump();

    std::fflush(stderr);
    // A failure here has nowhere to be reported: descriptor 2 stays on the file.
    duplicateOnto(oldErr.get(), kStderrDescriptor);
}

}  // namespace orvela
