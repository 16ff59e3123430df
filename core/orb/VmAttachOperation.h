#pragma once

#include <windows.h>

#include <string>

namespace orvela::orb {

// What the VM answered to one attach operation.
struct AttachAnswer {
    // True when the VM ran the operation; `text` is then its output, else why it did not run.
    bool ran = false;
    std::string text;
};

// Runs one operation of the VM's attach mechanism (as "threaddump" or "printflag") from inside
// the process: the entry point the VM's diagnostic tools call, JVM_EnqueueOperation of
// jvm.dll, is looked up when needed (nothing links against the VM, and another VM may have
// none). The VM's attach listener thread runs it and writes the answer into a pipe of ours.
// Waits at most `timeoutMs` for the whole answer.
AttachAnswer runVmAttachOperation(const char* command, const char* arg0, DWORD timeoutMs);

}  // namespace orvela::orb
