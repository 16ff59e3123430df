// The thread dump's POSIX part: SIGQUIT, on which the VM prints its threads.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "binding/ScopedFd.h"
#include "binding/WriteFully.h"
#include "core/orb/ThreadDump.h"

namespace orvela::orb::detail {
namespace {

constexpr int kDumpSignal = SIGQUIT;

bool dumpSignalHandled() {
    struct sigaction current {};
    if (sigaction(kDumpSignal, nullptr, &current) != 0) return false;
    if ((current.sa_flags & SA_SIGINFO) != 0) return current.sa_sigaction != nullptr;
    return current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN;
}

}  // namespace

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

int duplicate(int fd) {
    return dup(fd);
}
int duplicateOnto(int fd, int target) {
    return dup2(fd, target);
}
int descriptorOf(FILE* file) {
    return fileno(file);
}
void writeAll(int fd, const std::string& text) {
    writeFully(fd, text.data(), text.size());
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

}  // namespace orvela::orb::detail
