// A plain Win32 program, no JNI, that meets the Ductway natives from another process:
//
//   ductway_peer client <pipe> <message>   opens the pipe, writes <message>, prints the reply
//   ductway_peer serve <pipe>              offers one instance, prints "ready", answers the
//                                          first message with "echo:" and the message
//   ductway_peer readport <mapping>        prints the first four bytes of the named block in
//                                          hex, or "error <code>" when it can't be opened
//
// Exit status 0 when every step succeeded; otherwise a line "failed <step> <code>" and 1.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "binding/ScopedHandle.h"

namespace {

using orvela::ScopedHandle;

int fail(const char* step) {
    std::printf("failed %s %lu\n", step, GetLastError());
    return 1;
}

// Reads one chunk; in byte mode the whole message of a small write arrives at once.
bool readChunk(HANDLE pipe, std::string* out) {
    char buf[4096];
    DWORD n = 0;
    if (!ReadFile(pipe, buf, sizeof(buf), &n, nullptr)) return false;
    out->assign(buf, n);
    return true;
}

bool writeAll(HANDLE pipe, const std::string& data) {
    DWORD n = 0;
    return WriteFile(pipe, data.data(), static_cast<DWORD>(data.size()), &n, nullptr) &&
           n == data.size();
}

int runClient(const char* name, const char* message) {
    if (!WaitNamedPipeA(name, 10000)) return fail("wait");
    ScopedHandle pipe(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  SECURITY_SQOS_PRESENT | SECURITY_IMPERSONATION, nullptr));
    if (!pipe) return fail("open");
    std::string reply;
    if (!writeAll(pipe.get(), message)) return fail("write");
    if (!readChunk(pipe.get(), &reply)) return fail("read");
    std::printf("reply %s\n", reply.c_str());
    return 0;
}

int runServer(const char* name) {
    ScopedHandle pipe(CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                       4096, 4096, 0, nullptr));
    if (!pipe) return fail("create");
    std::printf("ready\n");
    std::fflush(stdout);
    if (!ConnectNamedPipe(pipe.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
        return fail("connect");
    }
    std::string message;
    if (!readChunk(pipe.get(), &message)) return fail("read");
    if (!writeAll(pipe.get(), "echo:" + message)) return fail("write");
    FlushFileBuffers(pipe.get());
    std::printf("served %s\n", message.c_str());
    DisconnectNamedPipe(pipe.get());
    return 0;
}

int readPort(const char* name) {
    ScopedHandle mapping(OpenFileMappingA(FILE_MAP_READ, FALSE, name));
    if (!mapping) {
        std::printf("error %lu\n", GetLastError());
        return 0;
    }
    const unsigned char* view =
        static_cast<const unsigned char*>(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 4));
    if (view == nullptr) return fail("map");
    std::printf("%02x %02x %02x %02x\n", view[0], view[1], view[2], view[3]);
    UnmapViewOfFile(view);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "client") == 0) return runClient(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "serve") == 0) return runServer(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "readport") == 0) return readPort(argv[2]);
    std::fprintf(stderr,
                 "usage: ductway_peer client <pipe> <message> | serve <pipe> | "
                 "readport <mapping>\n");
    return 2;
}
