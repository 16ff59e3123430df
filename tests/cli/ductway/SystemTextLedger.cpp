#include "tests/cli/ductway/SystemTextLedger.h"

#include <cstring>
#include <mutex>
#include <set>

namespace orvela::test {

namespace {

using FormatMessageAFn = DWORD(WINAPI*)(DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, va_list*);
using LocalFreeFn = HLOCAL(WINAPI*)(HLOCAL);

struct Books {
    std::mutex mutex;
    std::set<void*> outstanding;
    std::set<void*> released;
    size_t allocated = 0;
    size_t releasedCount = 0;
    size_t releasedTwice = 0;
    FormatMessageAFn realFormatMessageA = nullptr;
    LocalFreeFn realLocalFree = nullptr;
};

Books& books() {
    static Books instance;
    return instance;
}

DWORD WINAPI countingFormatMessageA(DWORD flags, LPCVOID source, DWORD id, DWORD language,
                                    LPSTR buffer, DWORD size, va_list* args) {
    Books& b = books();
    DWORD n = b.realFormatMessageA(flags, source, id, language, buffer, size, args);
    if (n != 0 && (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        void* text = *reinterpret_cast<char**>(buffer);
        std::lock_guard<std::mutex> lock(b.mutex);
        ++b.allocated;
        b.outstanding.insert(text);
        b.released.erase(text);
    }
    return n;
}

HLOCAL WINAPI countingLocalFree(HLOCAL memory) {
    Books& b = books();
    {
        std::lock_guard<std::mutex> lock(b.mutex);
        if (b.outstanding.erase(memory) != 0) {
            // Kept until the ledger ends, so that no later allocation can take this address and
            // make its own release look like a second release of the text.
            ++b.releasedCount;
            b.released.insert(memory);
            return nullptr;
        }
        if (b.released.count(memory) != 0) {
            ++b.releasedTwice;
            return nullptr;
        }
    }
    return b.realLocalFree(memory);
}

// Points the module's import of `function` from KERNEL32 at `hook`; returns what it was.
void* redirectImport(HMODULE module, const char* function, void* hook) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return nullptr;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         imp->Name != 0; ++imp) {
        if (_stricmp(reinterpret_cast<char*>(base + imp->Name), "KERNEL32.dll") != 0) continue;
        DWORD namesRva = imp->OriginalFirstThunk != 0 ? imp->OriginalFirstThunk : imp->FirstThunk;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + namesRva);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(byName->Name), function) != 0) continue;
            DWORD oldProtection = 0;
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE,
                           &oldProtection);
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(hook);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), oldProtection,
                           &oldProtection);
            return previous;
        }
    }
    return nullptr;
}

}  // namespace

SystemTextLedger::SystemTextLedger(HMODULE module) : module_(module) {
    Books& b = books();
    {
        std::lock_guard<std::mutex> lock(b.mutex);
        b.outstanding.clear();
        b.released.clear();
        b.allocated = b.releasedCount = b.releasedTwice = 0;
    }
    b.realFormatMessageA = &FormatMessageA;
    b.realLocalFree = &LocalFree;
    void* hookedFormat =
        redirectImport(module_, "FormatMessageA", reinterpret_cast<void*>(&countingFormatMessageA));
    void* hookedFree =
        redirectImport(module_, "LocalFree", reinterpret_cast<void*>(&countingLocalFree));
    attached_ = hookedFormat != nullptr && hookedFree != nullptr;
}

SystemTextLedger::~SystemTextLedger() {
    Books& b = books();
    redirectImport(module_, "FormatMessageA", reinterpret_cast<void*>(b.realFormatMessageA));
    redirectImport(module_, "LocalFree", reinterpret_cast<void*>(b.realLocalFree));
    std::lock_guard<std::mutex> lock(b.mutex);
    for (void* text : b.released) b.realLocalFree(text);
    b.released.clear();
}

size_t SystemTextLedger::allocated() const {
    std::lock_guard<std::mutex> lock(books().mutex);
    return books().allocated;
}
size_t SystemTextLedger::released() const {
    std::lock_guard<std::mutex> lock(books().mutex);
    return books().releasedCount;
}
size_t SystemTextLedger::outstanding() const {
    std::lock_guard<std::mutex> lock(books().mutex);
    return books().outstanding.size();
}
size_t SystemTextLedger::releasedTwice() const {
    std::lock_guard<std::mutex> lock(books().mutex);
    return books().releasedTwice;
}

}  // namespace orvela::test
