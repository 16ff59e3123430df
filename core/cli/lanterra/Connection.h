#pragma once

#include <jni.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "binding/SharedSocket.h"

namespace orvela::lanterra {

// One connection as every thread that uses it shares it: the socket, and the bytes that a read0
// took off the socket but could not give to Java (the VM had no memory for the array). Those
// come first in the next read0, so nothing received is lost.
class Connection {
  public:
    // Null, with the socket let go, when memory runs out; null for null.
    static std::shared_ptr<Connection> adopt(std::shared_ptr<SharedSocket> socket);

    explicit Connection(std::shared_ptr<SharedSocket> socket) : socket_(std::move(socket)) {}

    SharedSocket& socket() const { return *socket_; }

    // Keeps `count` bytes for the next read0; false when there is no memory for them either.
    bool hold(const jbyte* bytes, size_t count);
    // True when held bytes wait (cheap: no lock).
    bool holding() const { return holding_.load(std::memory_order_acquire); }
    // The held bytes as a new Java array, which gives them up; null with an exception pending
    // when the VM can't make the array (they stay held), or without one when another reader took
    // them first.
    jbyteArray takeHeld(JNIEnv* env);
    // Moves up to `len` held bytes into [off, off + len) of `array` (a range inside it); the
    // count moved, 0 when none are held.
    size_t takeHeldInto(JNIEnv* env, jbyteArray array, jint off, jint len);

  private:
    std::shared_ptr<SharedSocket> socket_;
    std::mutex heldMutex_;
    std::vector<jbyte> held_;
    std::atomic<bool> holding_{false};
};

}  // namespace orvela::lanterra
