#pragma once

#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace orvela::test {

// Everything the process writes to a standard stream while the object lives, C stdio and
// plain write() alike. The stream is restored when the object ends, also when an assertion
// leaves the test early.
class CapturedOutput {
  public:
    explicit CapturedOutput(FILE* stream) : stream_(stream), fd_(fileno(stream)) {
        std::fflush(stream_);
        file_ = std::tmpfile();
        if (file_ == nullptr) throw std::runtime_error("no temporary file for the output");
        saved_ = ::dup(fd_);
        if (saved_ < 0 || ::dup2(fileno(file_), fd_) < 0) {
            restore();
            std::fclose(file_);
            throw std::runtime_error("could not redirect the output");
        }
    }
    ~CapturedOutput() {
        restore();
        std::fclose(file_);
    }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    // What was written since the capture began; the stream goes back to where it wrote before.
    std::string take() {
        restore();
        std::string text;
        std::rewind(file_);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
        return text;
    }

  private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stream_);
        ::dup2(saved_, fd_);
        ::close(saved_);
        saved_ = -1;
    }

    FILE* stream_;
    int fd_;
    FILE* file_ = nullptr;
    int saved_ = -1;
};

}  // namespace orvela::test
