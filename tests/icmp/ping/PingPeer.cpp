// A test-only library: a second raw socket that captures the echo requests icmpprobe sends and
// injects crafted IPv4 datagrams to loopback.
#include <arpa/inet.h>
#include <jni.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <vector>

#include "binding/ScopedFd.h"

namespace {

uint16_t read16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] << 8 | at[1]);
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_orvela_test_icmp_PingPeer_openCapture(JNIEnv*, jclass) {
    orvela::ScopedFd fd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!fd) return -errno;
    int size = 4 << 20;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) return -errno;
    return fd.release();
}

JNIEXPORT void JNICALL Java_com_orvela_test_icmp_PingPeer_closeCapture(JNIEnv*, jclass, jint fd) {
    ::close(fd);
}

// The ICMP message of the next echo request with this identifier and sequence number, or null
// when none comes within timeoutMs.
JNIEXPORT jbyteArray JNICALL Java_com_orvela_test_icmp_PingPeer_nextEchoRequest(
    JNIEnv* env, jclass, jint fd, jint identifier, jint sequence, jint timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<uint8_t> buf(65536);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return nullptr;
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
        ssize_t n = ::recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
        if (n < 20) continue;
        size_t ihl = static_cast<size_t>(buf[0] & 0x0F) * 4;
        if (ihl < 20 || static_cast<size_t>(n) < ihl + 8) continue;
        const uint8_t* icmp = buf.data() + ihl;
        if (icmp[0] != 8 || read16(icmp + 4) != (identifier & 0xFFFF) ||
            read16(icmp + 6) != (sequence & 0xFFFF)) {
            continue;
        }
        auto length = static_cast<jsize>(static_cast<size_t>(n) - ihl);
        jbyteArray message = env->NewByteArray(length);
        if (message == nullptr) return nullptr;
        env->SetByteArrayRegion(message, 0, length, reinterpret_cast<const jbyte*>(icmp));
        return message;
    }
}

// Sends a whole IPv4 datagram (header included) to its destination, which must be loopback.
JNIEXPORT jboolean JNICALL Java_com_orvela_test_icmp_PingPeer_inject(JNIEnv* env, jclass,
                                                                     jbyteArray jDatagram) {
    jsize length = env->GetArrayLength(jDatagram);
    if (length < 20) return JNI_FALSE;
    std::vector<uint8_t> datagram(static_cast<size_t>(length));
    env->GetByteArrayRegion(jDatagram, 0, length, reinterpret_cast<jbyte*>(datagram.data()));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::copy(datagram.begin() + 16, datagram.begin() + 20,
              reinterpret_cast<uint8_t*>(&to.sin_addr.s_addr));
    if (datagram[16] != 127) return JNI_FALSE;
    orvela::ScopedFd fd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW));
    if (!fd) return JNI_FALSE;
    ssize_t sent = ::sendto(fd.get(), datagram.data(), datagram.size(), 0,
                            reinterpret_cast<sockaddr*>(&to), sizeof to);
    return sent == static_cast<ssize_t>(datagram.size()) ? JNI_TRUE : JNI_FALSE;
}

}  // extern "C"
