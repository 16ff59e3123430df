#pragma once

// Splits a fuzzer input into leading fields and the datagram that follows them, and sets the
// fuzzer up: the diagnostic lines switched on, so that they are fuzzed too, but kept off the
// terminal. Included by the one source file of each fuzz target.

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>

#include "core/icmp/ProbeFilter.h"
#include "core/icmp/ProbeSettings.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (freopen("/dev/null", "w", stdout) == nullptr) perror("/dev/null");
    verbose = 1;
    return 0;
}

namespace orvela::fuzz {

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // The next n bytes (at most 4) as a big-endian number; 0 past the end.
    uint32_t take(size_t n) {
        uint32_t value = 0;
        for (size_t i = 0; i < n; ++i) value = (value << 8) | (at_ < size_ ? data_[at_++] : 0);
        return value;
    }

    // The rest, in a buffer of exactly its size, so that a read past it is caught.
    std::unique_ptr<unsigned char[]> rest(int* length) {
        const size_t n = at_ < size_ ? size_ - at_ : 0;
        std::unique_ptr<unsigned char[]> copy(new unsigned char[n ? n : 1]);
        if (n) memcpy(copy.get(), data_ + at_, n);
        *length = static_cast<int>(n);
        return copy;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Feeds one input to a packet check of the form (id, datagram, length, sender, seq): the
// identifier and sequence number come first, the datagram follows. A result outside
// [low, high] stops the fuzzer.
template <typename Check>
void fuzzPacketCheck(const uint8_t* data, size_t size, Check check, int low, int high) {
    FuzzInput input(data, size);
    const int id = static_cast<int>(input.take(2));
    const int seq = static_cast<int>(input.take(2));
    int length = 0;
    auto datagram = input.rest(&length);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    const int result = check(id, datagram.get(), length, &from, seq);
    if (result < low || result > high) __builtin_trap();
}

// A datagram socket pair whose receiving end runs a kernel filter: stops the fuzzer when the
// filter holds back a datagram that the reader accepted.
class FilterCheck {
  public:
    void mustPass(const icmp::FilterProgram& program, const unsigned char* data, int length) {
        if (ends_[0] < 0 && ::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, ends_) != 0) {
            __builtin_trap();
        }
        if (!icmp::attachFilter(ends_[1], program)) __builtin_trap();
        if (::send(ends_[0], data, static_cast<size_t>(length), 0) != length) return;
        unsigned char got[1];
        if (::recv(ends_[1], got, sizeof got, MSG_DONTWAIT | MSG_TRUNC) != length) __builtin_trap();
    }

  private:
    int ends_[2] = {-1, -1};
};

}  // namespace orvela::fuzz
