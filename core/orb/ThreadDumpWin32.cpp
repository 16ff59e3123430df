// The thread dump's Windows part: the console break, or the VM's attach mechanism.
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

#include <atomic>
#include <csignal>
#include <utility>

#include "core/orb/ThreadDump.h"
#include "core/orb/VmAttachOperation.h"

namespace orvela::orb::detail {
namespace {

// SIGBREAK of the Microsoft runtime, the console break.
constexpr int kDumpSignal = 21;

// How long the VM may take to hand over its dump, and to say where it prints.
constexpr DWORD kDumpAnswerMillis = 10000;
constexpr DWORD kFlagAnswerMillis = 2000;

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

}  // namespace

// The runtime runs the handler in this thread before raise returns.
void sendDumpSignal() {
    std::raise(kDumpSignal);
}

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

int duplicate(int fd) {
    return _dup(fd);
}
int duplicateOnto(int fd, int target) {
    return _dup2(fd, target);
}
int descriptorOf(FILE* file) {
    return _fileno(file);
}
void writeAll(int fd, const std::string& text) {
    const char* next = text.data();
    size_t left = text.size();
    while (left > 0) {
        int written = _write(fd, next, static_cast<unsigned>(left < 65536 ? left : 65536));
        if (written <= 0) return;
        next += written;
        left -= static_cast<size_t>(written);
    }
}

// Opened as the file has always been opened here.
FILE* openDumpFile(const char* name) {
    return std::fopen(name, "w");
}

}  // namespace orvela::orb::detail
