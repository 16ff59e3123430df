#pragma once

#include <jni.h>

#include <cstdio>
#include <string>

namespace orvela::orb {

// The bodies of the natives dump0 and dump1, shared by every class that exports them.

// Asks the VM for a dump of all its threads, written wherever its standard error goes, and
// returns without waiting. Does nothing when no handler is in place for the dump signal (a VM
// started with -Xrs), since raising it then would end the process.
void dumpThreads();

// Points descriptor 2 at the file `jFilename` (created or truncated), asks the VM for the dump,
// waits ten seconds for it to be written and puts the earlier standard error back. Everything
// any thread writes to standard error in those ten seconds lands in the file. Calls made while
// one runs wait for it to finish. Failures throw java/io/IOException with nothing redirected and
// no descriptor left open.
void dumpThreadsToFile(JNIEnv* env, jstring jFilename);

namespace detail {

// The platform's part of the bodies (ThreadDumpPosix.cpp, ThreadDumpWin32.cpp).

// The standard streams' descriptors, the same in both runtimes.
constexpr int kStdoutDescriptor = 1;
constexpr int kStderrDescriptor = 2;

// How one call gets its dump: the VM writes it on the dump signal, or this side holds its text
// and writes it; or there is none, and `text` says why.
struct DumpRoute {
    enum Kind { Signal, Text, None };
    Kind kind;
    std::string text;
};

DumpRoute findDumpRoute();
// Sends the signal on which the VM prints its threads.
void sendDumpSignal();
// The descriptor the VM prints on: a dump in hand goes there.
int vmOutputDescriptor();

// The runtime's descriptor calls.
int duplicate(int fd);
int duplicateOnto(int fd, int target);
int descriptorOf(FILE* file);
// Writes all of `text`; output that can't be written is dropped, as the VM's own is.
void writeAll(int fd, const std::string& text);
// Creates or truncates the file `name` for writing.
FILE* openDumpFile(const char* name);

}  // namespace detail
}  // namespace orvela::orb
