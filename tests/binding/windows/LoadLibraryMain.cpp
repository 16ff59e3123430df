// Loads one JNI library into the test host, as a VM does, and exits:
//   load_library <dll>
// Exit status 0 when JNI_OnLoad returned JNI 1.2, 1 when it returned something else, 2 when
// the library could not be loaded. An exception that nothing handles (such as the load hook's
// breakpoint) ends the process with the exception's code as its exit status, at once: no
// debugger is started and no dialog shown.
#include <windows.h>

#include <cstdio>
#include <exception>

#include "tests/jnihost/JniHost.h"

namespace {

LONG WINAPI endWithExceptionCode(EXCEPTION_POINTERS*) {
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <library>\n", argv[0]);
        return 2;
    }
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(endWithExceptionCode);
    try {
        orvela::jnihost::Host host;
        orvela::jnihost::Library library(host, argv[1]);
        return library.onLoadVersion() == JNI_VERSION_1_2 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
}
