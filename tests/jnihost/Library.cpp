#include <stdexcept>

#include "tests/jnihost/JniHost.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace orvela::jnihost {

namespace {

using OnLoadFn = jint(JNICALL*)(JavaVM*, void*);

std::vector<std::string> onLoadNames() {
    if (kHostPlatform == Platform::Win32) return {"_JNI_OnLoad@8", "JNI_OnLoad"};
    return {"JNI_OnLoad"};
}

}  // namespace

Library::Library(Host& host, const std::string& path) : path_(path) {
#if defined(_WIN32)
    handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
    if (handle_ == nullptr) {
        throw std::runtime_error("cannot load " + path + ": error " +
                                 std::to_string(GetLastError()));
    }
#else
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error("cannot load " + path + ": " + dlerror());
#endif
    for (const std::string& name : onLoadNames()) {
        if (void* onLoad = symbol(name)) {
            onLoadVersion_ = reinterpret_cast<OnLoadFn>(onLoad)(host.vm(), nullptr);
            break;
        }
    }
}

Library::~Library() {
#if defined(_WIN32)
    FreeLibrary(reinterpret_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
}

void* Library::symbol(const std::string& name) const {
#if defined(_WIN32)
    return reinterpret_cast<void*>(
        GetProcAddress(reinterpret_cast<HMODULE>(handle_), name.c_str()));
#else
    return dlsym(handle_, name.c_str());
#endif
}

void* Library::findNative(const std::string& className, const std::string& method,
                          const std::string& descriptor, bool overloaded) const {
    std::vector<std::string> names =
        nativeSymbolNames(kHostPlatform, className, method, descriptor, overloaded);
    std::string tried;
    for (const std::string& name : names) {
        if (void* fn = symbol(name)) return fn;
        tried += (tried.empty() ? "" : ", ") + name;
    }
    throw std::runtime_error(path_ + " exports no native " + className + "." + method + descriptor +
                             " (looked for " + tried + ")");
}

}  // namespace orvela::jnihost
