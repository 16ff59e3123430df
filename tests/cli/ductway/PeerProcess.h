#pragma once

#include <windows.h>

#include <string>

namespace orvela::test {

// The plain Win32 peer program (ductway_peer.exe, next to the test executable) run as a child
// process with its standard output on a pipe.
class PeerProcess {
  public:
    // Starts the peer with `args`; started() tells whether that worked.
    explicit PeerProcess(const std::string& args);
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    bool started() const { return process_ != nullptr; }
    // The next line of output without its line break; empty at end of output.
    std::string readLine();
    // Waits for the peer to end and returns its exit code; the rest of its output goes to
    // *rest when given.
    DWORD finish(std::string* rest = nullptr);

  private:
    HANDLE process_ = nullptr;
    HANDLE output_ = nullptr;
    std::string pending_;
};

// The directory of the running test executable, with a trailing backslash.
std::string executableDirectory();

}  // namespace orvela::test
