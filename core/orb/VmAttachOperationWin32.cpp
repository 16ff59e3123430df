// One operation of the VM's attach mechanism, run from inside the VM's own process.
#include "core/orb/VmAttachOperation.h"

#include <jni.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "binding/Deadline.h"
#include "binding/LastErrorMsg.h"
#include "binding/OverlappedWait.h"
#include "binding/ScopedHandle.h"
#include "binding/ScopedLocalFree.h"

namespace orvela::orb {
namespace {

// jvm.dll's entry point: queues `cmd` with up to three arguments for the attach listener, which
// opens `pipename` as a client and writes the result code, a line break and the output. Returns
// 0 when the operation was queued.
using EnqueueOperation = jint(JNICALL*)(char* cmd, char* arg0, char* arg1, char* arg2,
                                        char* pipename);

// The code with which the VM turns every operation down when its attach mechanism never
// started (-XX:+DisableAttachMechanism).
constexpr jint kAttachDisabled = 100;

AttachAnswer failed(std::string why) {
    return AttachAnswer{false, std::move(why)};
}

// Why a call failed, in the system's words.
std::string systemText(const char* what, DWORD err) {
    ScopedLocalFree<char> text(getLastErrorMsg(err));
    std::string why = what;
    why += ": ";
    why += text ? text.get() : "error " + std::to_string(err);
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r')) why.pop_back();
    return why;
}

EnqueueOperation findEnqueueOperation(std::string& whyNot) {
    HMODULE vm = GetModuleHandleA("jvm.dll");
    if (vm == nullptr) {
        whyNot = "the process has no jvm.dll, the VM that has the attach mechanism";
        return nullptr;
    }
    // The x86 VM exports the name as __stdcall decorates it.
    for (const char* name : {"JVM_EnqueueOperation", "_JVM_EnqueueOperation@20"}) {
        if (FARPROC found = GetProcAddress(vm, name)) {
            return reinterpret_cast<EnqueueOperation>(reinterpret_cast<void*>(found));
        }
    }
    whyNot = "jvm.dll exports no JVM_EnqueueOperation (a VM without the attach mechanism)";
    return nullptr;
}

// One overlapped call at a time on `file`, each awaited until a common deadline. A call still
// pending at the deadline, or when the scope ends, is cancelled, and the system is done with
// the OVERLAPPED block and the buffer before they go.
class OverlappedCalls {
  public:
    OverlappedCalls(HANDLE file, const Deadline& deadline)
        : file_(file), event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), deadline_(deadline) {
        ov_.hEvent = event_.get();
    }
    ~OverlappedCalls() { settle(); }
    OverlappedCalls(const OverlappedCalls&) = delete;
    OverlappedCalls& operator=(const OverlappedCalls&) = delete;

    explicit operator bool() const { return static_cast<bool>(event_); }

    // The block for the next call.
    OVERLAPPED* next() {
        pending_ = true;
        return &ov_;
    }

    // How the call just made, which returned `started`, began: 0 when it is under way or done,
    // else the system's error code (ERROR_PIPE_CONNECTED: the client came before the listening).
    DWORD began(BOOL started) {
        if (started) return 0;
        DWORD err = GetLastError();
        if (err == ERROR_IO_PENDING) return 0;
        pending_ = false;
        return err;
    }

    // Waits for the call under way: 0 and the bytes moved, the system's error code, or
    // WAIT_TIMEOUT when the deadline came first.
    DWORD await(DWORD& transferred) {
        pending_ = false;
        OverlappedOutcome outcome = awaitOverlapped(file_, &ov_, deadline_);
        transferred = outcome.transferred;
        if (outcome.kind == OverlappedOutcome::TimedOut) return WAIT_TIMEOUT;
        return outcome.kind == OverlappedOutcome::Done ? 0 : outcome.error;
    }

  private:
    void settle() {
        if (!pending_) return;
        pending_ = false;
        awaitOverlapped(file_, &ov_, Deadline::inMillis(0));
    }

    HANDLE file_;
    ScopedHandle event_;
    Deadline deadline_;
    OVERLAPPED ov_{};
    bool pending_ = false;
};

std::string uniquePipeName() {
    static std::atomic<unsigned> calls{0};
    return "\\\\.\\pipe\\orvela-vm-attach-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetCurrentThreadId()) + "-" + std::to_string(++calls);
}

// The answer as the VM wrote it: the operation's result code on the first line, its output
// after it.
AttachAnswer parseAnswer(const char* command, const std::string& answer) {
    size_t lineEnd = answer.find('\n');
    if (lineEnd == std::string::npos) {
        return failed(std::string("the VM closed the pipe without an answer to ") + command);
    }
    std::string output = answer.substr(lineEnd + 1);
    if (std::atoi(answer.substr(0, lineEnd).c_str()) != 0) {
        return failed(std::string("the VM could not run ") + command + ": " +
                      answer.substr(0, lineEnd) + " " + output);
    }
    return AttachAnswer{true, std::move(output)};
}

}  // namespace

AttachAnswer runVmAttachOperation(const char* command, const char* arg0, DWORD timeoutMs) {
    std::string whyNot;
    EnqueueOperation enqueue = findEnqueueOperation(whyNot);
    if (enqueue == nullptr) return failed(whyNot);

    Deadline deadline = Deadline::inMillis(timeoutMs);
    std::string name = uniquePipeName();
    ScopedHandle pipe(CreateNamedPipeA(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 65536,
        0, nullptr));
    if (!pipe)
        return failed(systemText("could not create a pipe for the VM's answer", GetLastError()));
    OverlappedCalls calls(pipe.get(), deadline);
    if (!calls) return failed(systemText("could not create an event", GetLastError()));

    // Listening before the VM is asked, so that it finds the pipe ready.
    DWORD listening = calls.began(ConnectNamedPipe(pipe.get(), calls.next()));
    if (listening != 0 && listening != ERROR_PIPE_CONNECTED) {
        return failed(systemText("could not listen on the pipe for the VM's answer", listening));
    }

    // The entry point takes writable strings; the VM only reads them.
    std::string cmd = command, arg = arg0, none, pipeName = name;
    jint queued = enqueue(&cmd[0], &arg[0], &none[0], &none[0], &pipeName[0]);
    if (queued == kAttachDisabled) {
        return failed("the VM's attach mechanism is disabled (-XX:+DisableAttachMechanism)");
    }
    if (queued != 0) {
        return failed("the VM did not take the attach operation " + std::string(command) +
                      " (code " + std::to_string(queued) + ")");
    }

    DWORD moved = 0;
    DWORD err = listening == 0 ? calls.await(moved) : 0;
    if (err == WAIT_TIMEOUT) return failed("the VM did not answer within the time allowed");
    if (err != 0) return failed(systemText("the VM's answer did not arrive", err));
    std::string answer;
    char buffer[16384];
    for (;;) {
        err = calls.began(ReadFile(pipe.get(), buffer, sizeof buffer, nullptr, calls.next()));
        if (err == 0) err = calls.await(moved);
        // The VM closes its end when it has written everything.
        if (err == ERROR_BROKEN_PIPE) break;
        if (err == WAIT_TIMEOUT) return failed("the VM did not finish its answer in time");
        if (err != 0) return failed(systemText("could not read the VM's answer", err));
        answer.append(buffer, moved);
    }
    return parseAnswer(command, answer);
}

}  // namespace orvela::orb
