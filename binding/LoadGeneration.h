#pragma once

#include <atomic>

namespace orvela {

// How many times JNI_OnLoad has run in this library image: once under a VM. JNI references kept
// across calls are tagged with it, so that a library loaded again (by a test host that makes a
// new VM in the same process) never uses a reference of a VM that is gone.
extern std::atomic<unsigned> loadGeneration;

}  // namespace orvela
