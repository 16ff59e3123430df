#pragma once

#include <jni.h>

namespace orvela {

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

}  // namespace orvela
