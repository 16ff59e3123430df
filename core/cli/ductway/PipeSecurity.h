#pragma once

#include <jni.h>
#include <windows.h>

#include <cstdlib>
#include <memory>

#include "binding/ScopedLocalFree.h"

namespace orvela::ductway {

// The security of a new pipe instance: a descriptor whose access list has exactly one entry,
// granting GENERIC_READ | GENERIC_WRITE to the local group S-1-2-0 (users logged on at the
// machine itself). Nobody else is granted anything, so a network logon can't open the pipe.
// Built anew for every instance and released when the object goes.
class PipeSecurity {
  public:
    PipeSecurity() = default;
    PipeSecurity(const PipeSecurity&) = delete;
    PipeSecurity& operator=(const PipeSecurity&) = delete;
    ~PipeSecurity();

    // Builds the descriptor. On failure the exception is pending and false is returned.
    bool build(JNIEnv* env);

    // Attributes for CreateNamedPipeA: this descriptor, handle inheritable by child processes.
    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

  private:
    struct FreeDeleter {
        void operator()(void* p) const { std::free(p); }
    };

    PSID localSid_ = nullptr;
    std::unique_ptr<void, FreeDeleter> dacl_;
    ScopedLocalFree<void> descriptor_;
    SECURITY_ATTRIBUTES attributes_ = {};
};

}  // namespace orvela::ductway
