// The named-pipe part of the showcase. The JNI test host plays the Java VM for Ductway.dll, and
// the plain Win32 peer program (ductway_peer.exe) is the other process: a pipe client, then a
// reader of the advertised port.
#include <jni.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/cli/ductway/DuctwayNatives.h"
#include "tests/cli/ductway/PeerProcess.h"
#include "tests/jnihost/JniHost.h"

namespace {

using orvela::jnihost::Host;
using namespace orvela::test;

bool failed(Host& host, const char* what) {
    auto thrown = host.takePending();
    if (!thrown) return false;
    std::printf("%s failed: %s %s\n", what, thrown->className.c_str(),
                thrown->message.value_or("").c_str());
    return true;
}

// Everything the client sent: the first read waits, the rest is what arrives soon after.
std::string readMessage(Host& host, const DuctwayNatives& natives, jobject server) {
    std::string message;
    for (jint wait = 10000;; wait = 200) {
        jbyteArray chunk = natives.serverRead0(host.env(), server, wait);
        if (chunk == nullptr) {
            host.takePending();  // "timeout": the client has said all it will before our reply
            return message;
        }
        std::vector<jbyte> bytes = host.bytes(chunk);
        message.append(bytes.begin(), bytes.end());
    }
}

}  // namespace

int main() {
    Host host;
    host.defineClass(kServerClass).intField("handle");
    // A timed-out write reports in it what the peer took, as in the real class.
    host.defineClass("java/io/InterruptedIOException").intField("bytesTransferred");
    host.defineClass(kPortClass).intField("mappedFileHandle").intField("mappedView");
    host.defineClass("java/lang/NullPointerException");
    orvela::jnihost::Library library(host, executableDirectory() + "Ductway.dll");
    DuctwayNatives natives(library);
    JNIEnv* env = host.env();

    std::string name = "\\\\.\\pipe\\orvela-demo-" + std::to_string(GetCurrentProcessId());
    jobject server = host.newInstance(kServerClass);
    jint handle = natives.serverCreate0(env, server, host.newString(name), kDuplex, kByteMode,
                                        PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0);
    if (failed(host, "create0")) return 1;
    host.setIntField(server, "handle", handle);
    std::printf("server: named pipe %s, open to local users only, %d instance(s)\n", name.c_str(),
                natives.getCurrentInstances0(env, server));

    PeerProcess client("client " + name + " \"show status\"");
    if (!client.started()) return 1;
    std::printf("server: waiting for a client (connect0 with 10000 ms)\n");
    natives.connect0(env, server, 10000);
    if (failed(host, "connect0")) return 1;
    jstring user = natives.getClientUserName0(env, server);
    if (failed(host, "getClientUserName0")) return 1;
    std::string userName = host.utf(user);
    std::printf("server: a client connected; it runs as user '%s'\n", userName.c_str());

    std::string request = readMessage(host, natives, server);
    std::printf("server: received \"%s\"\n", request.c_str());
    std::string reply = "hello " + userName + ", you said: " + request;
    natives.serverWrite0(env, server,
                         host.newByteArray(std::vector<jbyte>(reply.begin(), reply.end())), 0,
                         static_cast<jint>(reply.size()), 5000);
    if (failed(host, "write0")) return 1;
    std::string rest;
    DWORD clientExit = client.finish(&rest);
    std::printf("client process (exit %lu): %s", clientExit, rest.c_str());
    natives.disconnect0(env, server);
    natives.serverClose0(env, server);
    if (failed(host, "close0")) return 1;

    std::string mapping = "orvela-demo-port-" + std::to_string(GetCurrentProcessId());
    jobject port = host.newInstance(kPortClass);
    natives.advertisePort0(env, port, host.newString(mapping), 8080);
    if (failed(host, "advertisePort0")) return 1;
    std::printf("port 8080 advertised in the shared-memory block \"%s\"\n", mapping.c_str());
    PeerProcess reader("readport " + mapping);
    std::printf("another process reads the first four bytes: %s\n", reader.readLine().c_str());
    reader.finish();
    natives.unadvertisePort0(env, port, host.intField(port, "mappedFileHandle"),
                             host.intField(port, "mappedView"));
    if (failed(host, "unadvertisePort0")) return 1;
    PeerProcess again("readport " + mapping);
    std::printf("after unadvertisePort0 it gets: %s\n", again.readLine().c_str());
    again.finish();
    return 0;
}
