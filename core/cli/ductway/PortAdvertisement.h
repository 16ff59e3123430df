#pragma once

#include <windows.h>

#include "binding/HandleRegistry.h"

namespace orvela::ductway {

// The size of the named shared-memory block that carries an advertised port.
constexpr DWORD kPortBlockSize = 1024;

// The mapping's handle and the library's view cross to Java as registry handles, not as the
// raw values: a handle or an address doesn't fit an int on 64-bit Windows, and a forged or
// stale value must never unmap or close something that isn't this library's.
struct MappingRecord {
    HANDLE mapping;
};
struct ViewRecord {
    void* address;
};

HandleRegistry<MappingRecord>& mappingRegistry();
HandleRegistry<ViewRecord>& viewRegistry();

// The mapping and its view while an advertisement is built; released unless handed on (set to
// null) once the registries hold them.
class Advertisement {
  public:
    Advertisement() = default;
    Advertisement(const Advertisement&) = delete;
    Advertisement& operator=(const Advertisement&) = delete;
    ~Advertisement() {
        if (view != nullptr) UnmapViewOfFile(view);
        if (mapping != nullptr) CloseHandle(mapping);
    }

    HANDLE mapping = nullptr;
    void* view = nullptr;
};

}  // namespace orvela::ductway
