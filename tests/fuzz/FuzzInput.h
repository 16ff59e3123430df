#pragma once

// Splits a fuzzer input into leading fields and the datagram that follows them, and keeps the
// diagnostic lines (switched on, so that they are fuzzed too) off the terminal.

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <memory>

namespace orvela::fuzz {

inline void silenceStandardOutput() {
    if (freopen("/dev/null", "w", stdout) == nullptr) perror("/dev/null");
}

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

}  // namespace orvela::fuzz
