#include <cstdio>
#include <stdexcept>

#include "tests/jnihost/Descriptor.h"
#include "tests/jnihost/JniHost.h"

namespace orvela::jnihost {

std::string mangleForNative(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            out += static_cast<char>(c);
        } else if (c == '/') {
            out += '_';
        } else if (c == '_') {
            out += "_1";
        } else if (c == ';') {
            out += "_2";
        } else if (c == '[') {
            out += "_3";
        } else {
            // A UTF-16 unit from one to three modified UTF-8 bytes.
            unsigned unit = c;
            if ((c & 0xE0) == 0xC0 && i + 1 < name.size()) {
                unit = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(name[++i]) & 0x3Fu);
            } else if ((c & 0xF0) == 0xE0 && i + 2 < name.size()) {
                unit = ((c & 0x0Fu) << 12) |
                       ((static_cast<unsigned char>(name[i + 1]) & 0x3Fu) << 6) |
                       (static_cast<unsigned char>(name[i + 2]) & 0x3Fu);
                i += 2;
            }
            char hex[8];
            std::snprintf(hex, sizeof hex, "_0%04x", unit & 0xFFFFu);
            out += hex;
        }
    }
    return out;
}

int stdcallArgBytes(const std::string& descriptor) {
    Signature sig;
    if (!parseDescriptor(descriptor, &sig)) {
        throw std::invalid_argument("malformed descriptor " + descriptor);
    }
    int bytes = 8;
    for (char type : sig.args) bytes += (type == 'J' || type == 'D') ? 8 : 4;
    return bytes;
}

std::vector<std::string> nativeSymbolNames(Platform platform, const std::string& className,
                                           const std::string& method, const std::string& descriptor,
                                           bool overloaded) {
    std::string name = "Java_" + mangleForNative(className) + "_" + mangleForNative(method);
    if (overloaded) {
        size_t close = descriptor.find(')');
        if (descriptor.empty() || descriptor[0] != '(' || close == std::string::npos) {
            throw std::invalid_argument("malformed descriptor " + descriptor);
        }
        name += "__" + mangleForNative(descriptor.substr(1, close - 1));
    }
    if (platform != Platform::Win32) return {name};
    return {"_" + name + "@" + std::to_string(stdcallArgBytes(descriptor)), name};
}

}  // namespace orvela::jnihost
