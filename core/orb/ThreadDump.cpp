// The thread dump on standard error or redirected into a file, for every class that exports
// dump0 and dump1.
#include "core/orb/ThreadDump.h"

#include <chrono>
#include <memory>
#include <thread>

#include "binding/ScopedFd.h"
#include "binding/ScopedLocalRef.h"
#include "binding/ScopedMonitor.h"
#include "binding/ScopedUtfChars.h"
#include "binding/ThrowByName.h"

namespace orvela::orb {
namespace {

using namespace detail;

// How long the file takes the place of standard error.
constexpr std::chrono::seconds kDumpWindow{10};

// Descriptor 2 belongs to the whole process, and every library that carries these natives has
// its own copy of this code. Overlapping redirections would save each other's file as the
// standard error to restore, and it would stay on a dump file for good; so they take turns,
// kept by the monitor of one class object that the whole VM shares.
constexpr const char* kTurnClass = "java/lang/Thread$State";

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
    // The wait lasts the whole window, also when a signal cuts a sleep short.
    if (route.kind == DumpRoute::Signal) sendDumpSignal();
    if (route.kind == DumpRoute::Text) writeAll(kStderrDescriptor, route.text);
    std::this_thread::sleep_for(kDumpWindow);

    std::fflush(stderr);
    // A failure here has nowhere to be reported: descriptor 2 stays on the file.
    duplicateOnto(oldErr.get(), kStderrDescriptor);
}

}  // namespace orvela::orb
