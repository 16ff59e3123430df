#pragma once

#include <string>

#include "core/icmp/ProbeSettings.h"
#include "tests/support/cpp/CapturedOutput.h"

namespace orvela::test {

// The diagnostic lines written while the object lives: the switch is on and standard output
// captured until text(); the switch goes back when the object ends.
class VerboseOutput {
  public:
    VerboseOutput() : saved_(verbose) { verbose = 1; }
    ~VerboseOutput() { verbose = saved_; }
    std::string text() { return out_.take(); }

  private:
    int saved_;
    CapturedOutput out_{stdout};
};

}  // namespace orvela::test
