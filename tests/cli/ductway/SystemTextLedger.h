#pragma once

#include <windows.h>

#include <cstddef>

namespace orvela::test {

// Counts the system texts a module obtains from FormatMessageA with
// FORMAT_MESSAGE_ALLOCATE_BUFFER and the LocalFree calls that release them, by redirecting the
// module's imports of the two functions for the ledger's lifetime. A second release of a text
// is counted, not passed on.
class SystemTextLedger {
  public:
    explicit SystemTextLedger(HMODULE module);
    ~SystemTextLedger();
    SystemTextLedger(const SystemTextLedger&) = delete;
    SystemTextLedger& operator=(const SystemTextLedger&) = delete;

    // False when the module doesn't import both functions from KERNEL32.
    bool attached() const { return attached_; }
    size_t allocated() const;
    size_t released() const;
    size_t outstanding() const;
    size_t releasedTwice() const;

  private:
    HMODULE module_;
    bool attached_ = false;
};

}  // namespace orvela::test
